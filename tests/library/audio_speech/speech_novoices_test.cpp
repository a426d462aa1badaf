// A machine with no voices installed: the engine is pointed at an empty data
// folder before its first use.
#include "zqspeech.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(SpeechWithoutVoices, TheListIsEmptyAndEveryIndexGivesVoiceZero)
{
    const fs::path empty = fs::temp_directory_path() / ("zqspeech-novoices-" + std::to_string(getpid()));
    fs::create_directories(empty);
    setenv("ZQ_ESPEAK_DATA", empty.c_str(), 1);
    {
        TzqSpeech speech;
        EXPECT_EQ(speech.VoiceCount(), 0);
        EXPECT_EQ(speech.VoiceName(0), "");
        speech.SelectVoice(-1);
        EXPECT_EQ(speech.VoiceIndex(), 0);
        speech.SelectVoice(2);
        EXPECT_EQ(speech.VoiceIndex(), 0);
        EXPECT_EQ(speech.VoiceToken(), nullptr);
        // Rendering fails in the engine: the exception leaves Speak and
        // nothing is started.
        speech.Text().Add("Hello");
        EXPECT_THROW(speech.Speak(), Exception);
        EXPECT_FALSE(speech.Playing());
    }
    fs::remove_all(empty);
}
