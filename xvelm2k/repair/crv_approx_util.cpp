#include "repair/crv_approx_util.hxx"

#include <memory>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "velm/check.hxx"

namespace {

// The first status the kernel's curve check reports when asked for `status` only; -1 for none.
int firstCheckStatus(curve* c, int status)
{
    if (!c)
        return -1;
    check_fix input(0);
    input.tol1 = QELresfit;
    input.tol2 = QELresfit;
    check_fix output;
    check_status_list wanted(status);
    check_status_list* found = nullptr;
    velmCall([&] { found = d3_cu_check(*c, input, output, &wanted, QELresabs); });
    const int first = found ? found->status() : -1;
    delete found;
    return first;
}

// Sample parameters: the whole range, or the stretches between
// self-intersections with the loops left out. A stretch after the first
// starts where the previous one ended in space, so its first sample is dropped.
std::vector<double> gridParameters(bs3_curve b, int steps)
{
    const QELinterval range = bs3_curve_range(b);
    std::vector<std::pair<double, double>> stretches;
    cc_intersection* ints = nullptr;
    if (velmGuard([&] { ints = bs3_curve_self_int(b); }) != 0)
        ints = nullptr;
    double from = range.start_pt();
    for (cc_intersection* i = ints; i; i = i->next) {
        if (i->param1 > from) {
            stretches.emplace_back(from, i->param1);
            from = i->param2;
        }
    }
    delete_cc_intersections(ints);
    stretches.emplace_back(from, range.end_pt());
    std::vector<double> params;
    for (std::size_t s = 0; s < stretches.size(); ++s) {
        const auto [a, b2] = stretches[s];
        for (int i = s == 0 ? 0 : 1; i <= steps; ++i)
            params.push_back(a + i * (b2 - a) / steps);
    }
    return params;
}

} // namespace

bool Ve_CrvApproxUtil::isCrvIrregular(curve* c)
{
    return firstCheckStatus(c, status_irregular) == status_irregular;
}

bool Ve_CrvApproxUtil::crvSelfIntersects(curve* c)
{
    const int first = firstCheckStatus(c, status_self_intersecting);
    return first == status_self_intersecting || first == status_irregular;
}

bool Ve_CrvApproxUtil::makeUsingGrid(bs3_curve& bspline, curve*& crv, int steps)
{
    if (!bspline || steps < 1)
        return false;
    const std::vector<double> params = gridParameters(bspline, steps);
    std::vector<QELposition> points(params.size());
    for (std::size_t i = 0; i < params.size(); ++i)
        bs3_curve_eval(params[i], bspline, points[i]);
    const QELvector startDir = bs3_curve_start_tangent(bspline);
    const QELvector endDir = bs3_curve_end_tangent(bspline);
    bs3_curve rebuilt = nullptr;
    velmCall([&] {
        rebuilt = bs3_curve_interp(static_cast<int>(points.size()), points.data(), startDir, endDir, GridFit);
    });
    if (!rebuilt)
        return false;
    // With an empty slot the check curve wraps a copy, so the caller alone owns the result.
    intcurve* candidate = nullptr;
    if (velmGuard([&] { candidate = VELM_MAKE(intcurve, crv ? rebuilt : bs3_curve_copy(rebuilt), QELresabs); }) != 0 ||
        !candidate) {
        bs3_curve_delete(rebuilt);
        return false;
    }
    if (isCrvIrregular(candidate) || crvSelfIntersects(candidate)) {
        if (crv)
            rebuilt = nullptr; // the candidate owns it
        delete candidate;
        if (rebuilt)
            bs3_curve_delete(rebuilt);
        return false;
    }
    if (crv) {
        delete crv;
        crv = candidate;
    } else {
        delete candidate;
    }
    bspline = rebuilt;
    return true;
}
