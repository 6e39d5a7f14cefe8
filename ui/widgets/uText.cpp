#include "ui/widgets/uText.h"

#include "korvane_text.h"

QString AnsiToQ(std::string_view text) {
  const std::u16string w = AnsiToWide(text);
  return QString::fromUtf16(w.data(), static_cast<qsizetype>(w.size()));
}

std::string QToAnsi(const QString& text) {
  return WideToAnsi(std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())));
}
