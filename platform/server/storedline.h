#pragma once

#include <QByteArrayView>

#include <functional>

namespace fis {

// One stored line of a file: its number (NRORDREGARQ, from 1), its bytes (one per character,
// Latin-1) and its number among the lines of the whole list (SQUENCIAL).
using StoredLineSink = std::function<void(qint64 number, QByteArrayView text, qint64 sequence)>;

} // namespace fis
