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

bool write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);  // raw bytes; empty when missing
bool exists(const std::string &path);

// Makes a file of exactly size bytes without writing them (sparse where the system allows).
bool make_file_of_size(const std::string &path, unsigned long long size);

} // namespace test_files
