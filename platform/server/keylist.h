#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace fis {

class KeyListError : public std::runtime_error
{
public:
    explicit KeyListError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Reads a selection of list keys as the host's multi-selection picker writes it: each key in
// single quotes, a quote inside a key doubled, keys separated by commas, blanks allowed around
// the commas: 'S01','E05','SO''X'.
//
// A text that is empty or blank means "no restriction" and gives std::nullopt. Anything else
// that does not follow the format throws KeyListError, whose text is meant for the user.
std::optional<QStringList> parseKeyList(const QString &text);

// The opposite: the text the picker would write for these keys.
QString formatKeyList(const QStringList &keys);

} // namespace fis
