#include "test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace test_files {

scratch_dir::scratch_dir()
{
    static std::atomic<unsigned> counter{0};
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
    fs::path base = fs::temp_directory_path() / "facup-tests";
    fs::create_directories(base);
    // Made, not just looked for: two programs running the same case at once never share one.
    fs::path dir;
    do {
        dir = base / (name + "." + std::to_string(counter++));
    } while (!fs::create_directory(dir));
    path_ = dir.generic_string();
}

scratch_dir::~scratch_dir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

working_dir::working_dir() : saved_(fs::current_path().string()) { fs::current_path(dir_.path()); }

working_dir::~working_dir()
{
    std::error_code ec;
    fs::current_path(saved_, ec);
}

bool write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return bool(out);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string &path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

bool make_file_of_size(const std::string &path, unsigned long long size)
{
    if (!write_file(path, ""))
        return false;
    std::error_code ec;
    fs::resize_file(path, size, ec);
    return !ec;
}

} // namespace test_files
