#include "JournalTypes.h"

#include <array>

namespace kalvora {

Q_LOGGING_CATEGORY(lcJournal, "kalvora.journal", QtInfoMsg)

namespace journal {

namespace {

constexpr std::array kCallTypes { u"call", u"bill" };
constexpr std::array kEndReasons { u"server_cancel",  u"click",    u"timeout",    u"bed_deleted",
                                   u"console_closed", u"restored", u"interrupted" };
constexpr std::array kEventKinds { u"console_started",  u"console_closed",     u"server_found",
                                   u"server_lost",      u"server_found_again", u"beds_saved",
                                   u"beds_save_failed", u"records_lost",       u"journal_renamed" };

template<class Enum, std::size_t N>
std::optional<Enum> fromName(const std::array<const char16_t *, N> &names, QStringView name)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (name == QStringView(names[i]))
            return Enum(i);
    }
    return std::nullopt;
}

} // namespace

QString callTypeName(CallType type)
{
    return QString::fromUtf16(kCallTypes[std::size_t(type)]);
}

QString endReasonName(EndReason reason)
{
    return QString::fromUtf16(kEndReasons[std::size_t(reason)]);
}

QString eventKindName(EventKind kind)
{
    return QString::fromUtf16(kEventKinds[std::size_t(kind)]);
}

std::optional<CallType> callTypeFromName(QStringView name)
{
    return fromName<CallType>(kCallTypes, name);
}

std::optional<EndReason> endReasonFromName(QStringView name)
{
    return fromName<EndReason>(kEndReasons, name);
}

} // namespace journal
} // namespace kalvora
