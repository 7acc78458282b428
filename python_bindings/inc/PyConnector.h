#pragma once
// Wrapper of a connector for Python: a named attachment point with free-form
// properties, hanging off one tree node.
//
// Contract:
//  - The constructor makes a "model::Connector" through the class registry
//    and names it; the wrapper holds a counted reference to it.
//  - setControlNode() makes node's tree node the connector's parent.
//  - setPropertyFloat()/setPropertyString() add a new property of that name
//    and value ("model::Property<float>" / "model::Property<const char*>",
//    the text copied). A property of the same name is replaced in its place.
//    A NaN or an infinite float raises std::invalid_argument (ValueError)
//    "Connector property {name} holds a value that is not finite." and
//    changes nothing.
//  - Every call changes the model node at once, also after the connector
//    was added to a model.

#include <string>

#include "PySceneNodes.h"
#include "nodes/Connector.h"

namespace pytav {

class Connector {
public:
    explicit Connector(const std::string& name);
    ~Connector();

    Connector(const Connector&) = delete;
    Connector& operator=(const Connector&) = delete;

    void setControlNode(const Node& node);
    void setPropertyFloat(const std::string& name, float value);
    void setPropertyString(const std::string& name, const std::string& value);

    const model::Ptr<model::Connector>& getModelNode() const noexcept { return node_; }

private:
    model::Ptr<model::Connector> node_;
};

}  // namespace pytav
