#pragma once

// `Procura` keeps the name under which the screen modules call the host's search window;
// everything else follows the Qt naming of the project.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace fis {

class MemTable;

// The window of Procura: a field (the table's visible fields, by label), a text, "Contém"
// (contains instead of starts with), and the buttons Localizar (from the first row), Próximo
// (after the current row) and Fechar. Texts are compared without case against the field's
// display text. A find puts the table's cursor on the row found at once; when nothing is found
// the message "Registro não encontrado." is shown and the cursor stays. Enter in the text runs
// Próximo when the text was searched already, else Localizar.
class SearchDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SearchDialog(MemTable *table, QWidget *parent = nullptr);

    QComboBox *fieldBox() const { return m_field; }
    QLineEdit *textBox() const { return m_text; }
    QCheckBox *containsBox() const { return m_contains; }

    // Both return whether a row was found (and show the message when not).
    bool findFirst();
    bool findNext();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool findFrom(int row);

    MemTable *m_table;
    QComboBox *m_field;
    QLineEdit *m_text;
    QCheckBox *m_contains;
    QString m_lastSearch;
};

// Lets the user search the table's visible fields in a modal window; leaves the table's cursor
// on the last row found. Does nothing for a closed or empty table.
void Procura(MemTable *table);

} // namespace fis
