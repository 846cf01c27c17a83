// The other of the two: the same type laid out another way.
namespace odr_probe {
struct Record {
    double weight;
    int count;
};
} // namespace odr_probe

int odrProbeCountToo(const odr_probe::Record* r)
{
    return r->count;
}
