#include "app/dialogs/query_lines.h"

#include <QFile>
#include <QSaveFile>
#include <stdexcept>

namespace veltra {

namespace {

std::runtime_error FileError(const QString& what, const QString& path, const QString& reason) {
    return std::runtime_error(QString("%1 %2: %3").arg(what, path, reason).toStdString());
}

}  // namespace

TQueryValueKind QueryValueKind(const QString& fieldEntry) {
    if (fieldEntry == "[Title]" || fieldEntry == "[Other]") return TQueryValueKind::Text;
    if (fieldEntry == "[ID]" || fieldEntry == "[Priority]") return TQueryValueKind::Integer;
    if (fieldEntry == "[Submit date]" || fieldEntry == "[Close date]" ||
        fieldEntry == "[Last update]")
        return TQueryValueKind::Date;
    if (fieldEntry == "[Submitter]" || fieldEntry == "[Owner]" || fieldEntry == "[State]" ||
        fieldEntry == "[Category]")
        return TQueryValueKind::Pick;
    return TQueryValueKind::None;
}

TQueryPickList QueryPickList(const QString& fieldEntry) {
    if (fieldEntry == "[State]") return TQueryPickList::State;
    if (fieldEntry == "[Category]") return TQueryPickList::Category;
    return TQueryPickList::Submitter;  // [Submitter] and [Owner]: both hold user names
}

QString QuotedConstant(const QString& text) {
    QString doubled = text;
    doubled.replace("'", "''");
    return "'" + doubled + "'";
}

QString TextValue(const QString& op, const QString& answer) {
    QString text = answer.trimmed();
    if (op == "=" && !text.isEmpty()) text += "*";
    return QuotedConstant(text);
}

std::optional<QString> IntegerValue(const QString& answer) {
    const QString text = answer.trimmed();
    if (text.isEmpty()) return QString("null");
    bool ok = false;
    text.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return text;
}

QString DateValue(const QString& shownText) {
    if (shownText.isEmpty() || shownText.startsWith(' ')) return "null";
    return QuotedConstant(shownText);
}

QString PickValue(const QString& text) { return QuotedConstant(text.trimmed()); }

QString Condition(const QString& fieldEntry, const QString& op, const QString& value) {
    return fieldEntry + " " + op + " " + value;
}

QString NewQueryLine(int existingLines, const QString& condition) {
    return existingLines > 0 ? Connective("OR") + condition : condition;
}

QString Connective(const QString& caption) {
    return caption.leftJustified(kConnectiveWidth, ' ', true);
}

QString WithConnective(const QString& line, const QString& caption) {
    return Connective(caption) + line.mid(kConnectiveWidth);
}

QStringList RemoveQueryLine(QStringList lines, int index) {
    if (index >= 0 && index < lines.size()) lines.removeAt(index);
    // "AND" covers "AND NOT" too.
    if (!lines.isEmpty() && (lines[0].startsWith("AND") || lines[0].startsWith("OR")))
        lines[0] = lines[0].mid(kConnectiveWidth);
    return lines;
}

QString QueryFilterText(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) text += line + "\r\n";
    return text;
}

void WriteQueryFile(const QString& path, const QStringList& lines) {
    const QByteArray bytes = QueryFilterText(lines).toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) throw FileError("Cannot write", path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw FileError("Cannot write", path, file.errorString());
}

QStringList ReadQueryFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw FileError("Cannot open", path, file.errorString());
    QString text = QString::fromUtf8(file.readAll());
    text.replace("\r\n", "\n");
    if (text.isEmpty()) return {};
    if (text.endsWith('\n')) text.chop(1);
    return text.split('\n');
}

}  // namespace veltra
