// Colours a file cannot carry: a body's or face's colour of which red,
// green or blue lies outside 0 to 1, or is no number at all, is refused by
// the IGES and STEP writers naming the body or face, and nothing is written.
#include "../support/in_turn.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/cad_file.hxx"
#include "uncarried_colours.hxx"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <unistd.h>

using namespace qelx_formats;
namespace fs = std::filesystem;

TEST(CadColours, AColourOutsideZeroToOneIsRefusedNamingItsBodyOrFace)
{
    const auto values = uncarried_colours::values();
    // The block's faces are body 0's, in the model's order.
    const struct {
        qelx_test::EntityKind kind;
        int index;
        const char* place;
    } entities[] = {{qelx_test::KindBody, 0, "body 0"}, {qelx_test::KindFace, 2, "body 0, face 2"}};
    const char* const files[] = {"colour.igs", "colour.step"};
    std::size_t group = 0;
    for (const auto& entity : entities)
        for (const auto& v : values) {
            for (std::size_t member = 0; member < 6; ++member) {
                if (!in_turn::taken(group, member, 6))
                    continue;
                const std::size_t component = member % 3;
                const char* file = files[member / 3];
                SCOPED_TRACE(std::string(entity.place) + ", component " + std::to_string(component) + " " + v.written +
                             " into " + file);
                qelx_test::TestModel model = qelx_test::TestModel::block(2.0, 3.0, 4.0);
                std::array<double, 4> colour{0.25, 0.5, 0.75, 0.0};
                colour[component] = v.value;
                model.attributes[qelx_test::wordOf(entity.kind, entity.index)].color = colour;
                std::string shown[3] = {"0.25", "0.5", "0.75"};
                shown[component] = v.written;
                const fs::path out = fs::temp_directory_path() / ("colours_" + std::to_string(::getpid()) + "_" + file);
                std::string error;
                EXPECT_NE(writeCadFile(model, out.string(), error), QELI_OK);
                EXPECT_EQ(error, out.string() + ": the model could not be written: " + entity.place + ": its colour (" +
                                     shown[0] + ", " + shown[1] + ", " + shown[2] +
                                     ") is none a file carries: red, green and blue each run from 0 to 1");
                EXPECT_FALSE(fs::exists(out));
                fs::remove(out);
            }
            ++group;
        }
}
