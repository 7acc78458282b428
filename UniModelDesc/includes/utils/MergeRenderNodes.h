#pragma once
// model::utils::mergeRenderNodes: the render-node merging pass of a save.
// Drops render nodes that draw nothing, merges equal materials again, and
// replaces groups of compatible render nodes (and of compatible fake light
// sets) by one node each.
//
// Contract of mergeRenderNodes(root), in order:
//  1. removeEmptyRenderNodes(root).
//  2. mergeEqualMaterials(root) (utils/MergeEqualMaterials.h), with its
//     "There is still equal properties sets." failure.
//  3. Render nodes of class model::RenderNode (number and skinned nodes
//     carry per-parent data a plain render node can't hold, so they stay as
//     they are) are grouped in list order: a node joins the first group
//     whose first node it can be merged with (canMergeRenderNodes), else it
//     starts a group. A node without a material throws qz::ExtException
//     "Material of render node isn't set.".
//  4. Each group of two or more becomes one new model::RenderNode (made
//     through the class registry) at the list position of its first member,
//     the other members leaving the list. It takes the first member's name
//     and properties, the shared material and primitive kind, one parent
//     entry per distinct (parent, damage argument) of the members in order
//     of first appearance, the members' vertices appended in group order
//     with each vertex's fourth position component set to its entry's
//     index, and the members' indices appended, each member's shifted by
//     the vertices before it.
//  5. Plain fake omni light sets, then plain fake spot light sets, are
//     grouped the same way (canMergeLightSets; the argument-driven sets keep
//     their curves only as they are, so they stay apart). A group of two or
//     more becomes one new set of the plain class, at the first member's
//     position: the first member's name, properties, material and version;
//     as parents the distinct parents of the members' lights in order of
//     first appearance (spot parents compared with their direction); the
//     members' lights in order, each pointing at its parent's new position.
//  Nodes listed twice stay listed twice; null entries stay where they are.
//  Members leave the list as soon as their group is merged, so a member
//  nothing else holds is freed before later groups are copied. With
//  `workers`, the groups of render nodes are merged on them, at most one
//  group per worker at a time, started in list order; the result is the
//  same. When a merge fails (qz::ExtException, std::bad_alloc) the list
//  stays whole: groups merged are replaced, every other entry keeps its
//  place, and the failure of the first failing group in list order is
//  thrown.
//
// Returns what the pass did; the refusal counts are kept per reason for
// diagnostics only, and count only the pairs actually compared: a node is
// compared only with groups whose first node holds the same material and
// has the same nearest visibility node at or above its parent (or the same
// tree top when there is none), since every other pair fails the tests.

#include <array>
#include <cstddef>

#include "Node.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "utils/Workers.h"

namespace model::utils {

enum class MergeRefusal : std::size_t {
    None = 0,
    SameNode,        // the same object
    ParentCount,     // a node with other than one parent
    Material,        // different material objects
    Blending,        // blending 1 (glass materials) is never merged
    Properties,      // node property lists differ
    PrimitiveKind,   // different kinds, or kinds other than 1 and 5
    Parents,         // the parent test failed
    Geometry,        // vertex layouts differ, data is inconsistent, or
                     // parent entries can't be told apart per vertex
    Lights,          // a light names a parent its set doesn't have
    Count
};

struct MergeStats {
    std::size_t removedEmpty = 0;
    std::size_t mergedRenderGroups = 0;
    std::size_t mergedLightGroups = 0;
    std::array<std::size_t, static_cast<std::size_t>(MergeRefusal::Count)> refusals{};
};

MergeStats mergeRenderNodes(RootNode& root);
MergeStats mergeRenderNodes(RootNode& root, const Workers& workers);

// Removes mesh render nodes whose primitive count is 0 and fake light sets
// that hold no lights from the render-node list; returns how many went.
std::size_t removeEmptyRenderNodes(RootNode& root);

// Whether geometry under parents a and b may be drawn by one node: both set,
// in one tree, their nearest common ancestor is not a LOD node, and no
// visibility node lies on the way from either parent up to (not including)
// that ancestor.
bool parentsCanShareNode(const Node* a, const Node* b);

// Why a and b can't be merged, or MergeRefusal::None. Throws
// "Material of render node isn't set." when either lacks a material.
MergeRefusal canMergeRenderNodes(const RenderNode& a, const RenderNode& b);
MergeRefusal canMergeLightSets(const FakeOmniLightsNode& a, const FakeOmniLightsNode& b);
MergeRefusal canMergeLightSets(const FakeSpotLightsNode& a, const FakeSpotLightsNode& b);

}  // namespace model::utils
