#pragma once
// model::utils finite checks of geometry: vertex data and fake light sets.
//
// A NaN or an infinity in vertex data spreads: it makes the model's boxes
// meaningless and defeats the vertex welding, which compares positions by
// distance. Model.addRenderNode and the shell build refuse such data with
// nonFiniteVertexDataMessage(name) instead.
//
// Contract:
//  - hasFiniteValues(vertices): true when every float of every attribute is
//    finite. The fourth component of a four-component POSITION0 is not a
//    coordinate (it holds the parent index, or packed bone indices whose bit
//    pattern may well read as NaN) and is not looked at.
//  - hasFiniteVertexData(node): for mesh render nodes (render, skin, number
//    nodes) the above on their vertex data; for fake light sets the light
//    positions, texture rectangles, sizes, spot directions and brightness
//    curves (hasFiniteLights, which the whole-model check calls by kind).
//  - haveFiniteValues(all, workers): hasFiniteValues of each of `all`, in
//    order (1 or 0), the data checked in chunks on the pool of `workers`
//    (not from one of its tasks), so one large mesh is checked by all of
//    them. It may throw std::bad_alloc.
//    Other node kinds hold no vertex data and are finite.
//  - nonFiniteVertexDataMessage(name): the text the script receives,
//    "Vertex data of {name} holds a value that is not finite.".
// None of the others throws (apart from std::bad_alloc for the message).

#include <cstdint>
#include <string>
#include <vector>

#include "Vertices.h"
#include "nodes/BaseRenderNode.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "utils/Workers.h"

namespace model::utils {

bool hasFiniteValues(const Vertices& vertices) noexcept;
std::vector<std::uint8_t> haveFiniteValues(const std::vector<const Vertices*>& all, const Workers& workers);

bool hasFiniteLights(const FakeOmniLightsNode& node) noexcept;
bool hasFiniteLights(const FakeSpotLightsNode& node) noexcept;

bool hasFiniteVertexData(const BaseRenderNode& node) noexcept;

std::string nonFiniteVertexDataMessage(const std::string& nodeName);

}  // namespace model::utils
