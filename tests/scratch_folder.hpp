// A folder of its own for each test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

class scratch_folder_test : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("codelist_") + test->test_suite_name() + "_" + test->name() +
            "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::string put_file(const char* name, std::string_view bytes) const {
    std::ofstream(path(name), std::ios::binary).write(bytes.data(), bytes.size());
    return path(name);
  }

  std::string file_bytes(const char* name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::filesystem::path dir_;
};

// The same, with the scratch folder as the current folder, where the tool
// works.
class in_scratch_folder_test : public scratch_folder_test {
 protected:
  void SetUp() override {
    scratch_folder_test::SetUp();
    home_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(home_);
    scratch_folder_test::TearDown();
  }

  std::filesystem::path home_;
};
