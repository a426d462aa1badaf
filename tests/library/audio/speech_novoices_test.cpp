// A machine without the speech engine's data: the engine is pointed at an
// empty folder before its first use, so the component cannot be made.
#include "zqspeech.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(SpeechWithoutEngine, ConstructionRaisesWithWhatToInstall)
{
    const fs::path empty = fs::temp_directory_path() / ("zqspeech-noengine-" + std::to_string(getpid()));
    fs::create_directories(empty);
    setenv("ZQ_ESPEAK_DATA", empty.c_str(), 1);
    try {
        TzqSpeech speech;
        FAIL() << "a speech component was made without an engine";
    } catch (const std::exception& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("espeak-ng-data"), std::string::npos) << text;
    }
    fs::remove_all(empty);
}
