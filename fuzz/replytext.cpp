// The decoding of probe replies: bytes become text without loss, the line-end clean-up leaves
// CR LF line ends only and no NUL or EOT, the line splitters give lines without line breaks,
// cut from the reply itself, and the text printed to a terminal or the log holds nothing a
// terminal acts on.
#include "FuzzTarget.h"

#include "engine/TextLines.h"
#include "probes/PortProbe.h"
#include "probes/WireText.h"

using namespace sentrel;

namespace {

bool hasBreak(const QString &s)
{
    return s.contains(u'\r') || s.contains(u'\n');
}

bool isBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

void checkFirstline(const QString &s)
{
    QString rest;
    const QString line = firstline(s, rest);
    FUZZ_REQUIRE(!hasBreak(line) && s.startsWith(line));
    if (line.size() < s.size())
        FUZZ_REQUIRE(isBreak(s.at(line.size())));
    if (!rest.isEmpty())
        FUZZ_REQUIRE(line + rest == s);
    else
        FUZZ_REQUIRE(s.size() <= line.size() + 1);
}

void checkFirsttwo(const QString &s)
{
    QString info, rest;
    const QString status = firsttwo(s, info, rest);
    FUZZ_REQUIRE(!hasBreak(status) && s.startsWith(status));
    // A line break as the very last character is the only one that can stand as the second line.
    FUZZ_REQUIRE(!hasBreak(info) || (info.size() == 1 && s.endsWith(info)));
    FUZZ_REQUIRE(s.endsWith(rest) && s.size() >= status.size() + info.size() + rest.size());
    if (!info.isEmpty())
        FUZZ_REQUIRE(s.indexOf(info, status.size()) >= 0);
}

void checkTodos(const QString &received)
{
    QString text = received;
    todos(text);
    FUZZ_REQUIRE(!text.contains(QChar(u'\0')) && !text.contains(QChar(u'\x04')));
    FUZZ_REQUIRE(!text.startsWith(u' '));
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text.at(i) == u'\n')
            FUZZ_REQUIRE(i > 0 && text.at(i - 1) == u'\r');
    // A final CR gets its LF only when it is the reply's last character: after a dropped
    // NUL or EOT it stays alone, as the clean-up has always done.
    const bool droppedLast = received.endsWith(QChar(u'\0')) || received.endsWith(QChar(u'\x04'));
    FUZZ_REQUIRE(!text.endsWith(u'\r') || droppedLast);
    if (!text.endsWith(u'\r')) {
        QString again = text;
        todos(again);
        FUZZ_REQUIRE(again == text);
    }
    checkFirstline(text);
    checkFirsttwo(text);
}

bool actsOnTerminal(QChar c)
{
    const char16_t u = c.unicode();
    return (u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F);
}

void checkWithoutControls(const QString &text)
{
    const QString clean = withoutControls(text);
    FUZZ_REQUIRE(clean.size() == text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        FUZZ_REQUIRE(!actsOnTerminal(clean.at(i)));
        if (actsOnTerminal(text.at(i)))
            FUZZ_REQUIRE(clean.at(i) == QChar(QChar::ReplacementCharacter));
        else
            FUZZ_REQUIRE(clean.at(i) == text.at(i));
    }
}

void checkDecodeReply(QByteArrayView input)
{
    const QString text = decodeReply(input);
    // Valid UTF-8 reads as UTF-8; anything else one character per byte, so nothing is lost.
    if (input.isValidUtf8()) {
        FUZZ_REQUIRE(text.toUtf8() == input);
    } else {
        FUZZ_REQUIRE(text.size() == input.size());
        FUZZ_REQUIRE(text.toLatin1() == input);
    }
    checkWithoutControls(text);
}

void fuzzReplyText(QByteArrayView input)
{
    checkDecodeReply(input);
    // The port probe reads replies as Latin-1; texts from files arrive as UTF-8.
    const QString latin1 = QString::fromLatin1(input);
    checkTodos(latin1);
    checkFirstline(latin1);
    checkFirsttwo(latin1);
    const QString utf8 = QString::fromUtf8(input);
    checkFirstline(utf8);
    checkFirsttwo(utf8);
}

} // namespace

SENTREL_FUZZ_TARGET(replytext, fuzzReplyText)
