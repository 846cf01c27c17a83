#pragma once
// The connector's option switches. Each is a pointer to the registry entry
// "/XVelm/<bound text>", null while that key is absent; a switch counts only
// when it is present and on (isOn). The pointers re-bind after every change
// of the registry.
#include "qelx/gk_import.hxx"
#include "qelx/qelx_options.hxx"

#include <string>

// X(member, bound text)
#define VE_OPTION_DOC_SWITCHES(X)                                                                  \
    X(AcceptBadData, "AcceptBadData")                                                              \
    X(AcceptPCurvesForAnalytics, "AcceptPCurvesForAnalytics")                                      \
    X(AllSheetsInSingleBody, "AllSheetsInSingleBody")                                              \
    X(AllowNonManiVertex, "AllowNonManiVertex")                                                    \
    X(ApproximateSurf, "ApproximateSurf")                                                          \
    X(AttachSrcFileUnitAsAttrib, "AttachSrcFileUnitAsAttrib")                                      \
    X(ChangeVertexGeom, "ChangeVertexGeom")                                                        \
    X(CheckAndFixG13dCrv, "CheckAndFixG13dCrv")                                                    \
    X(CheckBody, "CheckBody")                                                                      \
    X(CheckConeAxisDirection, "CheckConeAxisDirection")                                            \
    X(CheckVelmTolerizeUsability, "CheckVelmTolerizeUsability")                                    \
    X(ChkForSmallEdges, "ChkForSmallEdges")                                                        \
    X(ConicAsNUBS, "ConicAsNUBS")                                                                  \
    X(ConvertSpline, "ConvertSpline")                                                              \
    X(CreateIntCurve, "CreateIntCurve")                                                            \
    X(CreateSeparateWireBodies, "CreateSeparateWireBodies")                                        \
    X(CreateSingleEdgeWires, "CreateSingleEdgeWires")                                              \
    X(DoSplineResurface, "DoSplineResurface")                                                      \
    X(EnableCurveSimplification, "EnableCurveSimplification")                                      \
    X(EnableSurfaceSimplification, "EnableSurfaceSimplification")                                  \
    X(EnableWideCharAttribute, "EnableWideCharAttribs")                                            \
    X(ExportSplineOnly, "ExportSplineOnly")                                                        \
    X(ExtendIfPCrvOutsideSrf, "Import_ExtendIfPCrvOutsideSrf")                                     \
    X(FixBadSurfaceClosure, "FixBadSurfaceClosure")                                                \
    X(FixCntrlPtCoincidence, "FixCntrlPtCoincidence")                                              \
    X(FixCrvSelfIntxn, "FixCrvSelfIntxn")                                                          \
    X(FixCtrlPtCoinOfPCurve, "FixCtrlPtCoinOfPCurve")                                              \
    X(FixCurveSense, "FixCurveSense")                                                              \
    X(FixNullEdgeAtApex, "FixNullEdgeAtApex")                                                      \
    X(FixSurfSelfIntxn, "FixSurfSelfIntxn")                                                        \
    X(FixTedgeErrors, "FixTedgeErrors")                                                            \
    X(HealAssemBodiesAfterCompleteTranslation, "HealAssemBodiesAfterCompleteTranslation")          \
    X(HealBody, "HealBody")                                                                        \
    X(HealBodyPostProcessProE, "HealBodyPostProcess|XProE")                                        \
    X(HealBodyPostProcessV4, "HealBodyPostProcess|XV4")                                            \
    X(HealBodyPostProcessV5, "HealBodyPostProcess|XV5")                                            \
    X(HealBodyPostProcessUg, "HealBodyPostProcess|XUg")                                            \
    X(HealBodyPostProcessVda, "HealBodyPostProcess|XVda")                                          \
    X(HealBodyPostProcessPs, "HealBodyPostProcess|XPs")                                            \
    X(HealBodyPostProcessStep, "HealBodyPostProcess|XStep")                                        \
    X(HealBodyPostProcessIges, "HealBodyPostProcess|XIges")                                        \
    X(HealBodyPostProcessIdeas, "HealBodyPostProcess|XIdeas")                                      \
    X(HealBodyPostProcessInventor, "HealBodyPostProcess|XInventor")                                \
    X(ImportMultipleFaces2DShellAsTrim, "ImportMultipleFaces2DShellAsTrim")                        \
    X(ImportSingleFace2DShellAsTopology, "ImportSingleFace2DShellAsTopology")                      \
    X(KnotTol, "KnotTol")                                                                          \
    X(LinearityTolforG1, "LinearityTolforG1")                                                      \
    X(MakeBs3CrvPeriodic, "MakeBs3CrvPeriodic")                                                    \
    X(MakeG13dCrvAlways, "MakeG13dCrvAlways")                                                      \
    X(MergeC1Edges, "MergeC1Edges")                                                                \
    X(NeedAnalyticWhileSplining, "NeedAnalyticWhileSplining")                                      \
    X(OutputAcornBodyAsVERTEX, "OutputAcornBodyAsVERTEX")                                          \
    X(OverridePCurvesOnScarEdges, "OverridePCurvesOnScarEdges")                                    \
    X(PlaneBound, "PlaneBound")                                                                    \
    X(PreprocessBodyPreProcessV4, "PreprocessBodyPreProcess|XV4")                                  \
    X(PreprocessBodyPreProcessV5, "PreprocessBodyPreProcess|XV5")                                  \
    X(PreprocessBodyPreProcessStep, "PreprocessBodyPreProcess|XStep")                              \
    X(PreprocessBodyPreProcessVda, "PreprocessBodyPreProcess|XVda")                                \
    X(PreprocessBodyPreProcessIges, "PreprocessBodyPreProcess|XIges")                              \
    X(PreprocessBodyPreProcessGeneric, "PreprocessBodyPreProcess|XGeneric")                        \
    X(PreprocessBodyPreProcessIdeas, "PreprocessBodyPreProcess|XIdeas")                            \
    X(PropEdgeReqd, "PropEdgeReqd")                                                                \
    X(PsetToPolyline, "PsetToPolyline")                                                            \
    X(RemoveSliver, "RemoveSliver")                                                                \
    X(RemoveSliverTolerance, "RemoveSliverTolerance")                                              \
    X(RepairGeometry, "RepairGeometry")                                                            \
    X(RepairTrim, "RepairTrim")                                                                    \
    X(ScaleBndBoxCnvrtToSpline, "ScaleBndBoxCnvrtToSpline")                                        \
    X(SearchLayersThruMultipleLevels, "SearchLayersThruMultipleLevels")                            \
    X(SmallBody, "SmallBody")                                                                      \
    X(SmallEdgeTol, "SmallEdgeTol")                                                                \
    X(SplineAsRational, "SplineAsRational")                                                        \
    X(SplitAllNonG1ContinuousFaces, "SplitAllNonG1ContinuousFaces")                                \
    X(SplitAtG1Disc, "SplitAtG1Disc")                                                              \
    X(SplitBody, "SplitBody")                                                                      \
    X(SplitEdgesAtPoles, "SplitEdgesAtPoles")                                                      \
    X(SplitPeriodic, "SplitPeriodic")                                                              \
    X(SplitPeriodicPreProcess, "SplitPeriodicPreProcess")                                          \
    X(StitchSheetBodies, "StitchSheetBodies")                                                      \
    X(TransferAttribute, "TransferAttribute")                                                      \
    X(TransferAttributePID, "PID")                                                                 \
    X(TransferAttributePName, "PName")                                                             \
    X(TransferLayer, "TransferLayer")                                                              \
    X(TransferOldIgesHuskAsAttribs, "TransferOldIgesHuskAsAttribs")                                \
    X(TransferSelectionSets, "TransferSelectionSets")                                              \
    X(TranslateAllStates, "TranslateAllStates")                                                    \
    X(TranslateGroupAsAssemblies, "TranslateGroupAsAssemblies")                                    \
    X(TranslateOldVelmGenericAttributes, "TranslateOldVelmGenericAttributes")                      \
    X(TrimAllEdgesAfterSplit, "TrimAllEdgesAfterSplit")                                            \
    X(TrimCurveGapTolerance, "TrimCurveGapTolerance")                                              \
    X(UnstitchNMEdge, "UnstitchNMEdge")                                                            \
    X(UnstitchNMVertex, "UnstitchNMVertex")                                                        \
    X(UseDefaultGeomImporter, "UseDefaultGeomImporter")                                            \
    X(UseDifferentKnotTol, "UseDifferentKnotTol")                                                  \
    X(UseNewApi, "UseNewApi")                                                                      \
    X(UseSurfaceLimits, "UseSurfaceLimits")                                                        \
    X(_checkAndFixReverseBody, "CheckAndFixReverseBody")                                           \
    X(_translateAssemblyFeatures, "TranslateAssemblyFeatures")

class Ve_OptionDoc {
public:
#define VE_OPTION_DOC_DECLARE(member, text) static Gk_Option* member;
    VE_OPTION_DOC_SWITCHES(VE_OPTION_DOC_DECLARE)
#undef VE_OPTION_DOC_DECLARE

    // Progress observers of the import roads (not switches).
    static Gk_ObsWraper ImportPhase;
    static Gk_ObsWraper ImportSurfacePhase;
    static Gk_ObsWraper ImportCurvePhase;

    // A switch counts only when it is present and on.
    static bool isOn(const Gk_Option* option) { return option && option->on(); }
    // Present and explicitly off (some roads tell that from absent).
    static bool isOff(const Gk_Option* option) { return option && !option->on(); }

    // Re-binds every switch to the registry.
    static void refresh();
    // Registry key of a switch by member name ("TransferLayer" ->
    // "/XVelm/TransferLayer", "TransferAttributePID" -> "/XVelm/PID"); empty
    // for an unknown name.
    static std::string keyOf(const char* member);
    static constexpr const char* KeyPrefix = "/XVelm/";
};
