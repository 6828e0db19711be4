// The loader binds the required libraries from the system or a folder, fails
// whole on a missing library or export, and reloads without rebinding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FFmpegLoader/ffmpeg_api.h"
#include "FFmpegLoader/loader.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

const Library required_list[] = {Library::avcodec, Library::avfilter, Library::avformat, Library::avutil,
                                 Library::swscale, Library::myutil,   Library::swresample};

void expect_none_loaded()
{
    for (Library l : required_list) EXPECT_FALSE(TFFmpegLoader::is_loaded(l)) << TFFmpegLoader::file_name(l);
    EXPECT_EQ(lib::av_malloc, nullptr);
    EXPECT_EQ(lib::my_strtol, nullptr);
}

// A folder with every required library: links to the system's libraries and
// to the given myutil build.
void fill_library_folder(const fs::path& folder, const fs::path& myutil)
{
    for (Library l : required_list) {
        const std::string file = TFFmpegLoader::file_name(l);
        if (l == Library::myutil) continue;
        fs::create_symlink(fs::path("/usr/lib/x86_64-linux-gnu") / file, folder / file);
    }
    fs::copy_file(myutil, folder / "libmyutil.so");
}

class LoaderTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        TFFmpegLoader::unload(required_libraries);
        TFFmpegLoader::set_library_folder("");
    }
    fs::path built_myutil() const { return test::build_dir() / "lib" / "libmyutil.so"; }
};

TEST_F(LoaderTest, FileNamesCarryTheInstalledMajorVersions)
{
    EXPECT_EQ(TFFmpegLoader::file_name(Library::avcodec), "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(TFFmpegLoader::file_name(Library::avutil), "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR));
    EXPECT_EQ(TFFmpegLoader::file_name(Library::swresample),
              "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(TFFmpegLoader::file_name(Library::myutil), "libmyutil.so");
}

TEST_F(LoaderTest, LoadsTheRequiredSetThroughTheSystemSearchOrder)
{
    // No folder: the media libraries come from the system, myutil from beside the loader.
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries)) << TFFmpegLoader::last_error();
    EXPECT_TRUE(TFFmpegLoader::all_loaded(required_libraries));
    EXPECT_FALSE(TFFmpegLoader::is_loaded(Library::avdevice));
    EXPECT_FALSE(TFFmpegLoader::is_loaded(Library::sdl));
    void* memory = lib::av_malloc(16);
    ASSERT_NE(memory, nullptr);
    lib::av_free(memory);
    EXPECT_EQ(lib::my_strtol("0x1f", nullptr, 16), 31);
    EXPECT_EQ(lib::avcodec_version() >> 16, static_cast<unsigned>(LIBAVCODEC_VERSION_MAJOR));
}

TEST_F(LoaderTest, LoadsFromAFolderThatHoldsTheLibraries)
{
    test::ScratchDir folder("loader-folder");
    fill_library_folder(folder.path(), built_myutil());
    TFFmpegLoader::set_library_folder(folder.path().string());
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries)) << TFFmpegLoader::last_error();
    EXPECT_EQ(lib::my_strtol("42", nullptr, 10), 42);
}

TEST_F(LoaderTest, MissingExportFailsTheWholeSetWithItsName)
{
    test::ScratchDir folder("loader-missing-export");
    fill_library_folder(folder.path(), test::build_dir() / "test-libs" / "missing-export" / "libmyutil.so");
    TFFmpegLoader::set_library_folder(folder.path().string());
    EXPECT_FALSE(TFFmpegLoader::load(required_libraries));
    const std::string error = TFFmpegLoader::last_error();
    EXPECT_EQ(error.rfind("Load function my_strtol@libmyutil.so error: ", 0), 0u) << error;
    EXPECT_NE(error.find("my_strtol"), std::string::npos);
    expect_none_loaded();
}

TEST_F(LoaderTest, UnloadableLibraryFailsTheWholeSetWithTheSystemMessage)
{
    test::ScratchDir folder("loader-bad-library");
    fill_library_folder(folder.path(), built_myutil());
    fs::remove(folder / "libmyutil.so");
    { std::ofstream(folder / "libmyutil.so") << "not a library"; }
    TFFmpegLoader::set_library_folder(folder.path().string());
    EXPECT_FALSE(TFFmpegLoader::load(required_libraries));
    const std::string error = TFFmpegLoader::last_error();
    EXPECT_EQ(error.rfind("Load library " + (folder / "libmyutil.so").string() + " error: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("Load library  error: ").size() + (folder / "libmyutil.so").string().size());
    expect_none_loaded();
}

TEST_F(LoaderTest, LibraryFoundNowhereIsNamedWithTheFolder)
{
    test::ScratchDir folder("loader-missing-library");
    TFFmpegLoader::set_library_folder(folder.path().string());
    EXPECT_FALSE(TFFmpegLoader::load(LibrarySet{Library::sdl}));
    const std::string error = TFFmpegLoader::last_error();
    EXPECT_EQ(error.rfind("Load library " + (folder / "libSDL.so").string() + " error: ", 0), 0u) << error;
}

TEST_F(LoaderTest, SecondLoadSucceedsWithoutRebinding)
{
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries)) << TFFmpegLoader::last_error();
    auto* bound = lib::av_malloc;
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries)) << TFFmpegLoader::last_error();
    EXPECT_EQ(lib::av_malloc, bound);
    EXPECT_TRUE(TFFmpegLoader::all_loaded(required_libraries));
}

int hook_calls = 0;
void count_hook() { ++hook_calls; }

TEST_F(LoaderTest, LoadHooksRunOnEverySuccessfulLoad)
{
    hook_calls = 0;
    TFFmpegLoader::set_log_callback_hook(count_hook);
    TFFmpegLoader::set_protocol_registration_hook(count_hook);
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries));
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries));
    TFFmpegLoader::set_log_callback_hook(nullptr);
    TFFmpegLoader::set_protocol_registration_hook(nullptr);
    EXPECT_EQ(hook_calls, 4); // avutil and avformat, twice
}

TEST_F(LoaderTest, UnloadClearsTheBindings)
{
    ASSERT_TRUE(TFFmpegLoader::load(required_libraries));
    TFFmpegLoader::unload(required_libraries);
    expect_none_loaded();
}

} // namespace
