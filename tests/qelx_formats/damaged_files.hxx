#pragma once
// The damaged-file cases of the readers: a scratch folder holding the peer's
// box in each format (the sound text each case spoils), and the check that a
// spoilt text is refused, saying where, in the reader's own words.
#include "peer_box.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/cad_file.hxx"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace cad_samples {

// The box written by the peer as BREP, STEP and IGES into a folder of this
// process's own, which goes with the holder.
struct PeerBoxes {
    explicit PeerBoxes(const std::string& stem)
        : dir(std::filesystem::temp_directory_path() / (stem + "_" + std::to_string(::getpid())))
    {
        std::filesystem::create_directories(dir);
        brep = peerBox(dir, "box.brep");
        step = peerBox(dir, "box.step");
        iges = peerBox(dir, "box.igs");
    }
    ~PeerBoxes()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    PeerBoxes(const PeerBoxes&) = delete;
    PeerBoxes& operator=(const PeerBoxes&) = delete;

    std::filesystem::path dir;
    std::string brep, step, iges;
};

// A spoilt text, the file it is written as, and what its refusal must say.
struct DamagedText {
    const char* name;
    std::string file, text;
    std::vector<std::string> said;
};

// Each text written as its file into `dir` and read: refused, saying all it
// must, in the reader's own words (no class name or parser message of the
// peer's passes through), and nothing read. The files stay for the caller.
inline void expectEachRefusedSaying(const std::filesystem::path& dir, const std::vector<DamagedText>& cases)
{
    for (const DamagedText& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir / c.file).string();
        std::ofstream(path, std::ios::binary) << c.text;
        qelx_test::TestModel model;
        std::string error;
        EXPECT_NE(qelx_formats::readCadFile(path, model, error), QELI_OK);
        for (const std::string& said : c.said)
            EXPECT_NE(error.find(said), std::string::npos) << "wanted \"" << said << "\" in: " << error;
        const std::string words = error.substr(std::min(error.size(), path.size()));
        for (const char* peerWords : {"_", "Undefined Parsing", "Incorrect syntax", "Unresolved", "SEVERAL"})
            EXPECT_EQ(words.find(peerWords), std::string::npos) << error;
        EXPECT_TRUE(model.faces.empty() && model.edges.empty());
    }
}

} // namespace cad_samples
