#pragma once
// model::PropertyWriter20: writes the properties block of format 2.0 node
// records into the record sink of one save, strings into its pool.
//
// Contract
// - writeBlock(list, ownerName): u32 property count, then one record per
//   property in list order. A null entry raises qz::ExtException naming the
//   owner ("Null property in node '<name>'.") before anything is written.
// - A record is the property's kind tag (u32), the pool offset of its name
//   (pool search, DataPool20::addString), then its value:
//     FLT1..FLT4  1 to 4 floats as stored;  INT1  the u32;
//     AARG        the argument number;       STRG  pool offset of the value;
//     AFL1..AFL4  the argument, then a key block: key count, pool offset of
//                 the key times (floats converted from double), pool offset
//                 of the values (1 to 4 floats per key); both arrays are
//                 appended without search, so no keys gives two offsets
//                 equal to the pool's length.
// - Counts and offsets beyond 32 bits raise qz::ExtException.
// The writer must not outlive the sink and pool it is given.

#include <string>

#include "IProperty.h"
#include "IPropertyVisitor.h"
#include "qzvfs/MemWriter.h"

namespace model {

class DataPool20;

class PropertyWriter20 final : public IPropertyVisitor {
public:
    PropertyWriter20(qzvfs::MemWriter& sink, DataPool20& pool) : sink(sink), pool(pool) {}

    void writeBlock(const PropertyList& list, const std::string& ownerName);

    void visit(const AnimatedVec4fProperty& property) override;
    void visit(const AnimatedVec3fProperty& property) override;
    void visit(const AnimatedVec2fProperty& property) override;
    void visit(const AnimatedFloatProperty& property) override;
    void visit(const ArgumentProperty& property) override;
    void visit(const StringProperty& property) override;
    void visit(const Vec4fProperty& property) override;
    void visit(const Vec3fProperty& property) override;
    void visit(const Vec2fProperty& property) override;
    void visit(const UIntProperty& property) override;
    void visit(const FloatProperty& property) override;

private:
    void writeHeader(const IProperty& property);
    template <class V>
    void writeStatic(const StaticProperty<V>& property);
    template <class V>
    void writeAnimated(const AnimatedProperty<V>& property);

    qzvfs::MemWriter& sink;
    DataPool20& pool;
};

}  // namespace model
