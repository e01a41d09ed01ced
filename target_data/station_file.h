// The text of a production station file (INI form): its sections in file
// order and their values, read as every other settings file is read.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace romsmith {

class IniDocument;

class StationFile {
 public:
  StationFile();
  ~StationFile();

  // False when the file cannot be read.
  bool Load(const std::filesystem::path& path);
  // Every section header's name ("Target left" for "[Target left]"), in file
  // order, with the header line as written.
  struct Header {
    std::string section;
    std::string line;
  };
  std::vector<Header> Headers() const;
  // False when SECTION has no KEY.
  bool Get(const std::string& section, const std::string& key, std::string& value) const;

 private:
  std::unique_ptr<IniDocument> document_;
};

}  // namespace romsmith
