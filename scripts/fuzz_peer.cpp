// fuzz_peer FILE: judges what a run of the driver wrote, for scripts/fuzz.py.
// A STEP, IGES or BREP file is read by Open CASCADE and checked by its
// analyser (the measures the conversion tests judge by); a neutral document
// is read by the framework's reader. Prints one line; exit 0 valid, 1 not.
#include <cstdio>
#include <string>

#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/exchange_leak_suppressions.hxx"
#include "qelx_formats/neutral_document.hxx"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_peer FILE (.step, .stp, .iges, .igs, .brep or .json)\n");
        return 2;
    }
    const std::string path = argv[1];
    if (qelx_formats::cadFormatOf(path)) {
        const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(path));
        std::printf("%s: %d solids, %d faces, volume %g, area %g\n", m.valid ? "valid" : "invalid", m.solids,
                    m.faces, m.volume, m.area);
        return m.valid ? 0 : 1;
    }
    qelx_test::TestModel model;
    std::string error;
    if (qelx_formats::readNeutralDocument(path, model, error) != QELI_OK) {
        std::printf("invalid: %s\n", error.c_str());
        return 1;
    }
    std::printf("valid: %zu faces, %zu edges\n", model.faces.size(), model.edges.size());
    return 0;
}
