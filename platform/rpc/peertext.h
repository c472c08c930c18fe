#pragma once

#include <QString>
#include <QStringView>

namespace fis {

// How much of a peer's text an error echoes back or a log line shows.
inline constexpr qsizetype kEchoLength = 120;

// Text that came from a peer, fit to be shown on one line of a log or echoed in an error: every
// control character (C0, DEL, C1), line or paragraph separator and bidirectional override
// becomes an escape ("\n", "\r", "\t", "\x1b", "\u{202e}"), so that it can neither start a
// line of its own nor hide what follows; a text longer than `max` characters is cut there and
// ends in "…".
QString printable(QStringView text, qsizetype max = kEchoLength);

// True when `name` is a plain name (letters, digits, "_", ".", "-"; at most kEchoLength
// characters) that a log line can show as it is.
bool isPlainName(QStringView name);

} // namespace fis
