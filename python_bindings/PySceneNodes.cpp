// Python classes of the transform tree: Node, Transform, Lod, NumberRoot,
// VisibilityNode, AnimationNode and Bone.

#include "PySceneNodes.h"

#include <cmath>
#include <initializer_list>
#include <stdexcept>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "utils/KeyReduction.h"
#include "ClassRegistry.h"

namespace py = pybind11;

namespace pytav {

namespace {

// Animation keys are exported densely; anything closer than this to the
// curve of the remaining keys is invisible in the game.
constexpr float kAnimationKeyTolerance = 0.0001f;

// Visibility keys at or above this value show the subtree.
constexpr float kVisibleThreshold = 0.5f;
// End of a visible range left open by the last key: just past the argument
// range [-1, 1] so that the value 1 itself is covered.
constexpr double kOpenRangeEnd = 1.0001;

std::int32_t toControlArgument(float value) {
    if (std::isnan(value)) throw std::invalid_argument("control argument is not a number");
    if (value < 0.0f) return model::NumberControl::kNone;
    // 2^31 is exactly representable; everything at or above it doesn't fit.
    if (value >= 2147483648.0f) throw std::invalid_argument("control argument is out of range");
    return static_cast<std::int32_t>(value);
}

// Animation keys go into the file as they are; a NaN time is left to the
// sort, which refuses it with its own message.
bool finiteKey(float time, std::initializer_list<float> values) noexcept {
    if (std::isinf(time)) return false;
    for (const float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

model::Matrix44d toModelMatrix(const MatrixRows& rows) {
    // Rows past the fourth are ignored, as a homogeneous matrix has no use for them.
    if (rows.size() < 4) throw std::invalid_argument("matrix must have 4 rows of 4 values");
    model::Matrix44d m;
    for (int j = 0; j < 4; ++j) {
        const auto& [c0, c1, c2, c3] = rows[j];
        m(0, j) = c0;
        m(1, j) = c1;
        m(2, j) = c2;
        m(3, j) = c3;
        requireFinite(allFinite(c0, c1, c2, c3), "Matrix");
    }
    return m;
}

std::vector<model::LodRange> toLodRanges(const std::vector<float>& distances) {
    std::vector<model::LodRange> ranges;
    for (const float d : distances) requireFinite(allFinite(d), "Lod distance list");
    ranges.reserve(distances.size());
    double lower = 0.0;
    for (float d : distances) {
        const double wide = d;
        const double upper = wide * wide;
        ranges.push_back({lower, upper});
        lower = upper;
    }
    return ranges;
}

std::vector<model::VisibilityRange> toVisibleRanges(const std::vector<std::tuple<float, float>>& keys) {
    std::vector<model::VisibilityRange> ranges;
    for (const auto& [position, value] : keys) requireFinite(allFinite(position, value), "Visibility key");
    if (keys.empty()) return ranges;
    if (keys.size() == 1) {
        if (!(std::get<1>(keys.front()) < kVisibleThreshold)) ranges.push_back({-1.0, 1.0});
        return ranges;
    }
    bool visible = false;
    double start = 0.0;
    for (const auto& [position, value] : keys) {
        if (!visible && value >= kVisibleThreshold) {
            start = position;
            visible = true;
        } else if (visible && value < kVisibleThreshold) {
            ranges.push_back({start, static_cast<double>(position)});
            visible = false;
        }
    }
    if (visible && start < kOpenRangeEnd) ranges.push_back({start, kOpenRangeEnd});
    return ranges;
}

model::NumberControl toNumberControl(const std::tuple<float, float, float, float>& values) {
    const auto& [argument, value, argument2, value2] = values;
    requireFinite(allFinite(value, value2), "Number control");
    return model::NumberControl{toControlArgument(argument), value, toControlArgument(argument2), value2};
}

std::vector<model::PositionKey> toPositionKeys(const std::vector<std::tuple<float, Vec3Tuple>>& keys) {
    std::vector<model::PositionKey> out;
    out.reserve(keys.size());
    for (const auto& [time, v] : keys) {
        const auto& [x, y, z] = v;
        requireFinite(finiteKey(time, {x, y, z}), "Animation key");
        out.push_back({time, {x, y, z}});
    }
    model::utils::sortAndReduceLinear(out, kAnimationKeyTolerance);
    return out;
}

std::vector<model::RotationKey> toRotationKeys(const std::vector<std::tuple<float, QuatTuple>>& keys) {
    std::vector<model::RotationKey> out;
    out.reserve(keys.size());
    for (const auto& [time, q] : keys) {
        const auto& [w, x, y, z] = q;
        requireFinite(finiteKey(time, {w, x, y, z}), "Animation key");
        out.push_back({time, {x, y, z, w}});
    }
    model::utils::sortAndReduce(out, kAnimationKeyTolerance, model::slerpQuaternion);
    return out;
}

// --- Node --------------------------------------------------------------

Node::Node(const std::string& name) : Node(model::ClassRegistry::make<model::Node>("model::Node"), name) {}

Node::Node(model::Ptr<model::Node> node, const std::string& name) : node_(std::move(node)) {
    node_->setName(name);
}

Node::~Node() = default;

std::string Node::getName() const { return node_->getName(); }

void Node::addChild(const Node& child) { node_->addChild(child.node_); }

// --- Transform ---------------------------------------------------------

Transform::Transform(const std::string& name)
    : Transform(model::ClassRegistry::make<model::TransformNode>("model::TransformNode"), name) {}

Transform::Transform(const std::string& name, const MatrixRows& matrix) : Transform(name) { setMatrix(matrix); }

Transform::Transform(model::Ptr<model::TransformNode> node, const std::string& name)
    : Node(node, name), transform_(std::move(node)) {}

void Transform::setMatrix(const MatrixRows& matrix) { transform_->setMatrix(toModelMatrix(matrix)); }

// --- Lod ---------------------------------------------------------------

Lod::Lod(const std::string& name, const std::vector<float>& distances)
    : Node(model::ClassRegistry::make<model::LodNode>("model::LodNode"), name) {
    lod_ = qz::staticPtrCast<model::LodNode>(getModelNode());
    lod_->setRanges(toLodRanges(distances));
}

// --- NumberRoot --------------------------------------------------------

NumberRoot::NumberRoot(const std::string& name)
    : NumberRoot(model::ClassRegistry::make<model::Node>("model::TmpNumberRoot"), name) {}

NumberRoot::NumberRoot(model::Ptr<model::Node> node, const std::string& name) : Node(node, name) {
    if (node->getType() == model::NodeType::TmpNumberRoot)
        numberRoot_ = qz::staticPtrCast<model::TmpNumberRoot>(node);
}

void NumberRoot::setControls(const PyNumberControls& controls) {
    model::NumberControlList records;
    records.reserve(controls.size());
    for (const auto& values : controls) records.push_back(toNumberControl(values));
    if (numberRoot_) numberRoot_->addControls(records);
}

// --- VisibilityNode ----------------------------------------------------

VisibilityNode::VisibilityNode(const std::string& name)
    : Node(model::ClassRegistry::make<model::ArgVisibilityNode>("model::ArgVisibilityNode"), name) {
    visibility_ = qz::staticPtrCast<model::ArgVisibilityNode>(getModelNode());
}

void VisibilityNode::setArguments(const PyVisibilityArguments& arguments) {
    std::vector<model::VisibilityEntry> entries;
    entries.reserve(arguments.size());
    for (const auto& [argument, keys] : arguments) entries.push_back({argument, toVisibleRanges(keys)});
    visibility_->setEntries(std::move(entries));
}

// --- AnimationNode -----------------------------------------------------

AnimationNode::AnimationNode(const std::string& name)
    : Node(model::ClassRegistry::make<model::ArgAnimationNode>("model::ArgAnimationNode"), name) {
    animation_ = qz::staticPtrCast<model::ArgAnimationNode>(getModelNode());
}

void AnimationNode::setBaseMatrix(const MatrixRows& matrix) { animation_->setBaseMatrix(toModelMatrix(matrix)); }

void AnimationNode::setPositionAnimation(const PyVectorAnimation& entries) {
    std::vector<model::PositionAnimation> out;
    out.reserve(entries.size());
    for (const auto& [argument, keys] : entries) out.push_back({argument, toPositionKeys(keys)});
    animation_->setPositionAnimations(std::move(out));
}

void AnimationNode::setRotationAnimation(const PyRotationAnimation& entries) {
    std::vector<model::RotationAnimation> out;
    out.reserve(entries.size());
    for (const auto& [argument, keys] : entries) out.push_back({argument, toRotationKeys(keys)});
    animation_->setRotationAnimations(std::move(out));
}

void AnimationNode::setScaleAnimation(const PyVectorAnimation& entries) {
    std::vector<model::ScaleAnimation> out;
    out.reserve(entries.size());
    for (const auto& [argument, keys] : entries) out.push_back({argument, {}, toPositionKeys(keys)});
    animation_->setScaleAnimations(std::move(out));
}

// --- Bone --------------------------------------------------------------

Bone::Bone(const std::string& name) : Bone(model::ClassRegistry::make<model::Bone>("model::Bone"), name) {}

Bone::Bone(const std::string& name, const MatrixRows& matrix) : Bone(name) { setMatrix(matrix); }

Bone::Bone(model::Ptr<model::Bone> node, const std::string& name) : Node(node, name), bone_(std::move(node)) {}

void Bone::setMatrix(const MatrixRows& matrix) { bone_->setMatrix(toModelMatrix(matrix)); }

void Bone::setInvertedBaseBoneMatrix(const MatrixRows& matrix) { bone_->setBoneMatrix(toModelMatrix(matrix)); }

// --- Python classes ----------------------------------------------------

void declareSceneNodes(py::module_& m) {
    py::class_<Node>(m, "Node");
    py::class_<Transform, Node>(m, "Transform");
    py::class_<Lod, Node>(m, "Lod");
    py::class_<NumberRoot, Node>(m, "NumberRoot");
    py::class_<VisibilityNode, Node>(m, "VisibilityNode");
    py::class_<AnimationNode, Node>(m, "AnimationNode");
}

void declareBone(py::module_& m) { py::class_<Bone, Node>(m, "Bone"); }

void bindSceneNodes(py::module_& m) {
    // addChild hands back the very Python object it was given: pybind11 finds
    // the live instance that wraps the returned reference.
    py::class_<Node>(m.attr("Node"))
        .def(py::init<const std::string&>(), py::arg("name"), "A plain group node.")
        .def("getName", &Node::getName, "The node's name.")
        .def(
            "addChild",
            [](Node& self, Node& child) -> Node& {
                self.addChild(child);
                return child;
            },
            py::return_value_policy::reference, py::arg("child"), "Hangs child below this node and returns child.");

    py::class_<Transform, Node>(m.attr("Transform"))
        .def(py::init<const std::string&>(), py::arg("name"), "A transform with the identity matrix.")
        .def(py::init<const std::string&, const MatrixRows&>(), py::arg("name"), py::arg("matrix"),
             "A transform with the given matrix, four rows of four.")
        .def("setMatrix", &Transform::setMatrix, py::arg("matrix"), "Sets the matrix, four rows of four.");

    py::class_<Lod, Node>(m.attr("Lod"))
        .def(py::init<const std::string&, const std::vector<float>&>(), py::arg("name"), py::arg("distances"),
             "A level-of-detail switch over the given distances.");

    py::class_<NumberRoot, Node>(m.attr("NumberRoot"))
        .def(py::init<const std::string&>(), py::arg("name"),
             "A root that the save turns into number nodes by its control records.")
        .def("setControls", &NumberRoot::setControls, py::arg("controls"),
             "Appends (argument, value, second argument, second value) control records.");

    py::class_<VisibilityNode, Node>(m.attr("VisibilityNode"))
        .def(py::init<const std::string&>(), py::arg("name"), "A node shown only while an argument lies in its ranges.")
        .def("setArguments", &VisibilityNode::setArguments, py::arg("arguments"),
             "Sets the (argument, ranges) pairs that show the node.");

    py::class_<AnimationNode, Node>(m.attr("AnimationNode"))
        .def(py::init<const std::string&>(), py::arg("name"), "A node animated by arguments.")
        .def("setBaseMatrix", &AnimationNode::setBaseMatrix, py::arg("matrix"),
             "Sets the base matrix, four rows of four.")
        .def("setPositionAnimation", &AnimationNode::setPositionAnimation, py::arg("entries"),
             "Sets the (argument, (time, position) keys) pairs.")
        .def("setRotationAnimation", &AnimationNode::setRotationAnimation, py::arg("entries"),
             "Sets the (argument, (time, quaternion w, x, y, z) keys) pairs.")
        .def("setScaleAnimation", &AnimationNode::setScaleAnimation, py::arg("entries"),
             "Sets the (argument, (time, scale) keys) pairs.");

    py::class_<Bone, Node>(m.attr("Bone"))
        .def(py::init<const std::string&>(), py::arg("name"), "A bone with the identity matrix.")
        .def(py::init<const std::string&, const MatrixRows&>(), py::arg("name"), py::arg("matrix"),
             "A bone with the given matrix, four rows of four.")
        .def("setMatrix", &Bone::setMatrix, py::arg("matrix"), "Sets the bone's matrix, four rows of four.")
        .def("getName", &Bone::getName, "The bone's name.")
        .def("setInvertedBaseBoneMatrix", &Bone::setInvertedBaseBoneMatrix, py::arg("matrix"),
             "Sets the inverse of the bone's base matrix, four rows of four.");
}

}  // namespace pytav
