// Small file helpers shared by the unit tests: a scratch directory per test and whole-file I/O.
#pragma once

#include <string>

namespace test_files {

// A fresh empty directory for the calling test, removed by the destructor with its contents.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A scratch directory that is the working directory while it lives (the tool writes its result and
// the information file's copy there, and ctest runs other test programs in the build's directory).
class working_dir {
public:
    working_dir();
    ~working_dir();
    working_dir(const working_dir &) = delete;
    working_dir &operator=(const working_dir &) = delete;
    const std::string &path() const { return dir_.path(); }
    std::string file(const std::string &name) const { return dir_.file(name); }

private:
    scratch_dir dir_;
    std::string saved_;
};

bool write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);  // raw bytes; empty when missing
bool exists(const std::string &path);

// Makes a file of exactly size bytes without writing them (sparse where the system allows).
bool make_file_of_size(const std::string &path, unsigned long long size);

} // namespace test_files
