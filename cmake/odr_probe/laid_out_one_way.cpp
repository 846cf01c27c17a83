// One of two sources that define one type two ways: the One Definition Rule check must
// refuse them together (tests/CMakeLists.txt, odr_check_refuses_two_layouts).
namespace odr_probe {
struct Record {
    int count;
};
} // namespace odr_probe

int odrProbeCount(const odr_probe::Record* r)
{
    return r->count;
}
