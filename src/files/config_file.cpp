#include "files/config_file.h"

#include <limits>

#include "analysis/number_text.h"
#include "files/atomic_file.h"
#include "files/number_token.h"

namespace fc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::optional<int16_t> ToInteger(std::optional<double> value) {
  if (!value) return std::nullopt;
  const double whole = RoundHalfEven(*value);
  if (!(whole >= std::numeric_limits<int16_t>::min() &&
        whole <= std::numeric_limits<int16_t>::max())) {
    return std::nullopt;
  }
  return static_cast<int16_t>(whole);
}

// Sequential reads over the file's text. Without a file every read fails, and the end-of-file
// test never says "at the end".
class ConfigReader {
 public:
  explicit ConfigReader(std::optional<std::string_view> text) : text_(text) {}

  bool AtEnd() const { return text_ && pos_ >= text_->size(); }

  std::optional<int16_t> ReadNumber() {
    if (!text_) return std::nullopt;
    const std::string_view text = *text_;
    while (pos_ < text.size() && IsBlank(text[pos_])) ++pos_;
    const std::size_t start = pos_;
    while (pos_ < text.size() && !IsBlank(text[pos_]) && text[pos_] != ',' &&
           !IsLineEnd(text[pos_])) {
      ++pos_;
    }
    const std::string_view token = text.substr(start, pos_ - start);
    while (pos_ < text.size() && IsBlank(text[pos_])) ++pos_;
    if (pos_ < text.size() && text[pos_] == ',') {
      ++pos_;
    } else {
      SkipLineEnd();
    }
    return ToInteger(ParseNumberToken(token));
  }

  std::optional<std::string> ReadLine() {
    if (!text_) return std::nullopt;
    const std::string_view text = *text_;
    const std::size_t start = pos_;
    while (pos_ < text.size() && !IsLineEnd(text[pos_])) ++pos_;
    std::string line(text.substr(start, pos_ - start));
    SkipLineEnd();
    return line;
  }

 private:
  void SkipLineEnd() {
    const std::string_view text = *text_;
    if (pos_ < text.size() && text[pos_] == '\r') {
      ++pos_;
      if (pos_ < text.size() && text[pos_] == '\n') ++pos_;
    } else if (pos_ < text.size() && text[pos_] == '\n') {
      ++pos_;
    }
  }

  std::optional<std::string_view> text_;
  std::size_t pos_ = 0;
};

void ReadSetting(ConfigReader& reader, int16_t& setting) {
  if (reader.AtEnd()) return;
  if (const auto value = reader.ReadNumber()) setting = *value;
}

void ReadTextLine(ConfigReader& reader, std::string& buffer) {
  if (reader.AtEnd()) return;
  if (auto line = reader.ReadLine()) buffer = std::move(*line);
}

// The check box accepts only its three states; anything else leaves it as it is.
std::optional<int> CheckState(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  const auto value = ToInteger(ParseNumberToken(text));
  if (!value || *value < 0 || *value > 2) return std::nullopt;
  return *value;
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

void LoadConfigurationText(std::optional<std::string_view> text, MeasurementState& state,
                           AveragingPanel& panel) {
  // A text editor may have put a UTF-8 byte-order mark in front of line 1.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text && text->substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text->remove_prefix(kByteOrderMark.size());
  }
  ConfigReader reader(text);
  ReadSetting(reader, state.ConsecutivePoints);
  ReadSetting(reader, state.MaxLimitCounts);
  ReadSetting(reader, state.JumpCounts);
  std::string buffer;
  ReadTextLine(reader, buffer);
  panel.FirstText = buffer;
  ReadTextLine(reader, buffer);
  panel.LastText = buffer;
  ReadTextLine(reader, buffer);
  if (const auto check = CheckState(buffer)) panel.Check1 = *check;
  ReadSetting(reader, state.LookForZeroCrossing);
  ReadSetting(reader, state.UseHiResTime);
}

std::optional<std::string> LoadConfiguration(const std::filesystem::path& path,
                                             MeasurementState& state, AveragingPanel& panel,
                                             ReadableFiles accept) {
  // Eight short lines; a megabyte is plenty, and bounds what a wrong path can cost.
  std::string error;
  const auto contents = ReadWholeFile(path, &error, 1 << 20, accept);
  if (contents) {
    LoadConfigurationText(std::string_view(*contents), state, panel);
    return std::nullopt;
  }
  LoadConfigurationText(std::nullopt, state, panel);
  return error;
}

std::string ConfigurationText(const MeasurementState& state, const AveragingPanel& panel) {
  std::string text;
  const auto number = [&](long long value) { text += FormatPrintNumber(value) + "\r\n"; };
  number(state.ConsecutivePoints);
  number(state.MaxLimitCounts);
  number(state.JumpCounts);
  text += FirstLine(panel.FirstText) + "\r\n";
  text += FirstLine(panel.LastText) + "\r\n";
  number(panel.Check1);
  number(state.LookForZeroCrossing);
  number(state.UseHiResTime);
  return text;
}

std::optional<std::string> SaveConfiguration(const std::filesystem::path& path,
                                             const MeasurementState& state,
                                             const AveragingPanel& panel) {
  return WriteFileAtomically(path, ConfigurationText(state, panel));
}

}  // namespace fc
