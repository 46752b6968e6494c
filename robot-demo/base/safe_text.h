// SPDX-License-Identifier: BSD-3-Clause
// Text from outside (file names, titles) made safe to put into SVG, HTML or
// a terminal.
#ifndef SCANPILOT_BASE_SAFE_TEXT_H
#define SCANPILOT_BASE_SAFE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

// Valid UTF-8 holding only characters XML 1.0 allows: every byte that is not
// part of a well-formed sequence (stray, overlong, surrogate, past U+10FFFF)
// and every disallowed character (controls other than tab, LF, CR; U+FFFE,
// U+FFFF) becomes U+FFFD.
std::string CleanUtf8(std::string_view s);

// CleanUtf8, then & < > " ' as character references. Safe in element content
// and in quoted attribute values, in XML and in HTML alike.
std::string XmlEscape(std::string_view s);

// At most `max_chars` characters (code points): a longer text keeps its head
// and its tail around a U+2026 ellipsis, since a file's name sits at the end
// of a path. Cuts only between characters; stray bytes count as one each.
std::string FitText(std::string_view s, std::size_t max_chars);

// A JSON string literal of any bytes: CleanUtf8, then quotes, backslashes
// and the control characters left (tab, LF, CR) escaped.
std::string JsonString(std::string_view s);

// For a terminal: every control character (C0, DEL, C1), line and paragraph
// separator and bidirectional formatting character as a visible escape
// (\n, \r, \t, \x1b, \u202e), and every byte that is not part of
// well-formed UTF-8 as \xNN, so that a name cannot start a line of its own
// or drive the terminal. Everything else is kept as it is.
std::string TerminalText(std::string_view s);

#endif
