#pragma once

#include <QtGlobal>

namespace lumora {

struct CheckinSection;

// The check-in room's cursor over the sections of the open pack, and when the shown section
// was opened on the check-in's own clock (seconds since it started). It always points at a
// real section: the section count is at least 1 and the index stays within it.
class CheckinFlow {
public:
    // Clamps: at least one section, the index into 0 ... count − 1, the opened time to at
    // least 0 (a time that is not a number counts as 0).
    CheckinFlow(qint64 sectionCount, qint64 index, double sectionOpenedAtElapsed);

    qint64 sectionCount() const { return m_sectionCount; }
    qint64 index() const { return m_index; }
    double sectionOpenedAtElapsed() const { return m_sectionOpenedAtElapsed; }

    bool isFirst() const { return m_index == 0; }
    bool isLast() const { return m_index >= m_sectionCount - 1; }

    // Each returns false and changes nothing when there is no section to move to.
    bool advance(double elapsed);
    bool goBack(double elapsed);
    void restart(double elapsed);

    // Never negative.
    double elapsedInSection(double elapsed) const;
    // Only a section with a positive suggestion can be past it.
    bool isPastSuggestion(const CheckinSection& section, double elapsed) const;

    bool operator==(const CheckinFlow&) const = default;

private:
    qint64 m_sectionCount;
    qint64 m_index;
    double m_sectionOpenedAtElapsed;
};

} // namespace lumora
