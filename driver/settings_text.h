// The settings file's text: its bytes decoded to UTF-8, the parts of a "key = value" line, and
// the checks and the shown form of a value for the warnings.
#pragma once

#include <cstddef>
#include <string>

namespace settings_text {

// A carriage return counts as blank space: line ends of CR CR LF, or a CR before trailing blanks,
// leave nothing behind.
bool is_blank(char c);

// The file's text as UTF-8, by its byte-order mark (UTF-8, UTF-16 of either endianness); without
// one, text that is not UTF-8 is in the system's code page (what Notepad saves as "ANSI").
std::string utf8_text(const char *bytes, size_t size);

// Cuts the text at an inline comment: ";" or "#" after blank space, outside double quotes.
void cut_inline_comment(char *text);

// A value written in double quotes loses them.
char *unquote(char *value);

// text without its leading and trailing blanks, cut in place.
char *trim(char *text);

// The text as a warning may show it: each control character, of ASCII (a tab, an escape) or of
// Latin-1's C1 range (U+0080 to U+009F, which some consoles obey too), as one "?".
std::string shown_text(const char *text);

// True when the text holds a control character (or, with blank_too, a blank); with tab_too false a
// tab is no such character.
bool has_control(const char *text, bool blank_too = false, bool tab_too = true);

// The text values' checks: an http:// or https:// URL with no blank or control character; one
// "Name: value" header line; a full path from a root or a drive.
bool is_report_url(const char *value);
bool is_header_line(const char *value);
bool is_full_path(const char *value);

} // namespace settings_text
