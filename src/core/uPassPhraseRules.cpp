#include "uPassPhraseRules.h"

#include "uCertwrightCommon.h"

#include <QList>

#include <optional>

namespace PassPhraseRules {

namespace {

const QString kTooShortMessage =
    QStringLiteral("Your password must be at least 4 characters long.");
const QString kControlCharacterMessage = QStringLiteral(
    "Your password must not contain line breaks or other control characters (it contains %1).");
const QString kTooLongMessage =
    QStringLiteral("Your password must be at most 1023 bytes long in UTF-8.");

constexpr int kMinimumLength = 4;
// The tool reads at most this many bytes of a pass-phrase file.
constexpr int kMaximumBytes = 1023;

// The first character (code point, not UTF-16 unit) that a pass-phrase file cannot hold as
// typed: the tool reads only the first line, so line breaks and other control characters are
// out.
std::optional<char32_t> firstRefusedCharacter(const QString& text) {
    for (const char32_t character : text.toUcs4()) {
        switch (QChar::category(character)) {
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return character;
        default:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

void checkToolCanReadAsTyped(const QString& passPhrase) {
    if (const auto refused = firstRefusedCharacter(passPhrase))
        throw PageError(kControlCharacterMessage.arg(
            QStringLiteral("U+%1").arg(uint(*refused), 4, 16, QLatin1Char('0')).toUpper()));
    if (passPhrase.toUtf8().size() > kMaximumBytes)
        throw PageError(kTooLongMessage);
}

void checkNewPassPhrase(const QString& passPhrase) {
    if (passPhrase.toUcs4().size() < kMinimumLength)
        throw PageError(kTooShortMessage);
    checkToolCanReadAsTyped(passPhrase);
}

} // namespace PassPhraseRules
