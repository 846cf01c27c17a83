#pragma once
// The three frames the writers' and readers' tests place their shapes in:
// as built, turned about a skew axis and moved, and mirrored in a skew plane
// after the turn (a frame of the other hand).
#include <gp_Ax1.hxx>
#include <gp_Ax2.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>
#include <gp_Trsf.hxx>
#include <gp_Vec.hxx>

#include <utility>
#include <vector>

namespace cad_frames {

inline std::vector<std::pair<const char*, gp_Trsf>> threeFrames()
{
    gp_Trsf turn, mirror;
    turn.SetRotation(gp_Ax1(gp_Pnt(1, -2, 3), gp_Dir(1, 2, 2)), 0.7);
    turn.SetTranslationPart(gp_Vec(3, -1, 2));
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 1, 0)));
    return {{"identity", gp_Trsf()}, {"rotated", turn}, {"mirrored", mirror * turn}};
}

} // namespace cad_frames
