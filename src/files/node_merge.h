// Merging the corners of an STL file into shared nodes.
#pragma once

#include <vector>

namespace orv {

// Merges corners (3 doubles each) into nodes, in corner order: each corner is
// the first node, in node order, closer than 1e-9 to it on every axis
// (|a - b| < 1e-9 as computed in double), and otherwise becomes a new node.
// A corner with a non-finite coordinate matches nothing. Fills nodes (3
// doubles each, copies of the corners that started a node) and cornerNode
// (one node index per corner).
void mergeNodes(const std::vector<double>& corners, std::vector<double>& nodes,
                std::vector<int>& cornerNode);

}  // namespace orv
