#include "utils/OptimizeTransformations.h"

#include "utils/AttachmentIndex.h"
#include "utils/MoveTransforms.h"
#include "utils/PreOrder.h"
#include "utils/RemoveDeadEnds.h"
#include "utils/RemoveDummyNodes.h"
#include "utils/ReplaceEmptyNodes.h"

namespace model {

namespace utils {

std::size_t iteratePasses(RootNode& root, const NodeHelpers& helpers) {
    std::size_t iterations = 0;
    // One walk serves every pass: each leaves the list describing the tree
    // as it left it, so it carries over to the next iteration unless the
    // model's top node changed.
    PreOrder order;
    for (;;) {
        // Held here: replaceEmptyNodes may give the model a new top node,
        // which the next iteration picks up.
        const Ptr<Node> top = root.getTopNode();
        if (!top) return iterations;
        ++iterations;
        if (order.top() != top) order.rebuild(top);
        // Plain replacements that the dummy pass would take out again are
        // never made: their nodes are taken out directly.
        std::uint64_t dummies = 0;
        const std::uint64_t replaced = replaceEmptyNodes(order, helpers, dummies);
        dummies += removeDummyNodes(order, helpers);
        std::uint64_t deadEnds = removeDeadEnds(order, helpers);
        const std::uint64_t moved = moveTransforms(order, helpers);
        if (deadEnds != 0)
            while (const std::uint64_t more = removeDeadEnds(order, helpers)) deadEnds += more;
        if (replaced + dummies + deadEnds + moved == 0) return iterations;
    }
}

}  // namespace utils

std::size_t optimizeTransformations(RootNode& root) {
    utils::AttachmentIndex index(root);
    utils::RemovedList removed;
    // Renaming marks removed nodes for anyone still holding them (a script's
    // node wrappers), whether or not the run got to its end. Each node is
    // released right after its renaming, while it is still in the cache.
    struct MarkRemoved {
        utils::RemovedList& removed;
        ~MarkRemoved() {
            for (std::size_t i = 0; i < removed.size(); ++i) {
                utils::prefetchAhead(removed, i, utils::nodeOf);
                removed[i]->setName(utils::kDeletedNodeName);
                removed[i].reset();
            }
        }
    } mark{removed};
    return utils::iteratePasses(root, utils::bindNodeHelpers(root, index, removed));
}

}  // namespace model
