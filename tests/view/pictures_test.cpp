// The golden pictures: each committed picture of docs/pictures/ is what the drawing makes now of
// the Status JSON it was drawn from (tests/view/pictures/, both written by ./vantrel pictures from
// a real device), compared as SVG text, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "sim/view/screenshot.h"

using namespace vantrel::sim;
using namespace vantrel::sim::view;

namespace {

const std::string kSource = VANTREL_SOURCE_DIR;

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(GoldenPictures, DrawnAsCommitted) {
    auto manifest = readFile(kSource + "/tests/view/pictures/pictures.txt");
    ASSERT_TRUE(manifest) << "no tests/view/pictures/pictures.txt; ./vantrel pictures makes the set";
    std::istringstream lines(*manifest);
    int pictures = 0;
    for (std::string name, framing; lines >> name >> framing; ++pictures) {
        const Shot shot = framing == "lock"    ? Shot::LockScreen
                          : framing == "nc"    ? Shot::NotificationCentre
                          : framing == "phone" ? Shot::Phone
                                               : Shot::StatusBar;
        auto status = readFile(kSource + "/tests/view/pictures/" + name + ".json");
        auto committed = readFile(kSource + "/docs/pictures/" + name + ".svg");
        if (!status || !committed) {
            ADD_FAILURE() << name << ": its status or picture is missing; ./vantrel pictures makes the set";
            continue;
        }
        auto drawn = shotPicture(Json::parse(*status, nullptr, false), {shot, 2, 0});
        if (!drawn) {
            ADD_FAILURE() << name << ": " << drawn.error().message;
            continue;
        }
        // The text itself only in the first lines of the failure: a picture is one long line.
        EXPECT_TRUE(*drawn == *committed) << "docs/pictures/" << name
                                          << ".svg is not what the drawing now makes of its status; if the change is "
                                             "meant, ./vantrel pictures regenerates the set";
    }
    EXPECT_GT(pictures, 40) << "the manifest lists too few pictures";
}

}  // namespace
