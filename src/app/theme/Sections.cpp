#include "Sections.hpp"

#include <array>

namespace lumora {

namespace {

struct SectionInfo {
    const char* title;
    const char* symbol;
};

constexpr std::array<SectionInfo, 4> sectionInfo { {
    { "Conversation", "waveform" },
    { "History", "clock.arrow.circlepath" },
    { "People", "person.2" },
    { "Account", "person.crop.circle" },
} };

bool isSection(int section)
{
    return section >= 0 && section < int(sectionInfo.size());
}

} // namespace

QVariantList Sections::allCases()
{
    return { Conversation, History, People, Account };
}

QString Sections::title(int section)
{
    return isSection(section) ? QString::fromLatin1(sectionInfo[size_t(section)].title) : QString();
}

QString Sections::symbol(int section)
{
    return isSection(section) ? QString::fromLatin1(sectionInfo[size_t(section)].symbol) : QString();
}

std::optional<Sections::AppSection> Sections::fromRawValue(const QString& rawValue)
{
    for (size_t index = 0; index < sectionInfo.size(); ++index) {
        if (rawValue == QLatin1String(sectionInfo[index].title))
            return AppSection(index);
    }
    return std::nullopt;
}

int Sections::sectionForNotification(const QString& name)
{
    if (name == QLatin1String("showLumoraConversation"))
        return Conversation;
    if (name == QLatin1String("showLumoraHistory"))
        return History;
    if (name == QLatin1String("showLumoraPeople"))
        return People;
    return -1;
}

} // namespace lumora
