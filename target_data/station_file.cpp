#include "target_data/station_file.h"

#include "formats/ini_document.h"

namespace romsmith {

StationFile::StationFile() : document_(std::make_unique<IniDocument>()) {}
StationFile::~StationFile() = default;

bool StationFile::Load(const std::filesystem::path& path) { return document_->Load(path.string()); }

std::vector<StationFile::Header> StationFile::Headers() const {
  std::vector<Header> headers;
  for (const std::string& raw : document_->lines()) {
    std::string line = raw;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.pop_back();
    line.erase(0, line.find_first_not_of(" \t"));
    if (!IniDocument::IsHeaderLine(line)) continue;
    headers.push_back({line.substr(1, line.size() - 2), line});
  }
  return headers;
}

bool StationFile::Get(const std::string& section, const std::string& key,
                      std::string& value) const {
  return document_->GetString(section, key, value);
}

}  // namespace romsmith
