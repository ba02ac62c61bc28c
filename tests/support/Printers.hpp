#pragma once

// How test failures show Korvel's values: in words, not as bytes. Every test source sees this header (the build
// includes it first), so that one value prints the same way in every test of a program.

#include "core/building/Bitmap.hpp"
#include "core/building/CloneError.hpp"
#include "core/building/CloneStatus.hpp"
#include "core/building/PlistValue.hpp"
#include "core/model/Profile.hpp"
#include "core/model/ProfileColor.hpp"
#include "core/model/TaskBarIdentity.hpp"
#include "core/model/Timestamp.hpp"
#include "core/model/Uuid.hpp"
#include "core/support/FileError.hpp"
#include "core/transfer/SessionImporter.hpp"

#include <gtest/gtest-printers.h>

#include <ostream>

namespace korvel {

inline void PrintTo(const CloneStatus& status, std::ostream* out)
{
    switch (status.kind()) {
    case CloneStatus::Kind::Ready:
        *out << "ready(\"" << status.version() << "\")";
        return;
    case CloneStatus::Kind::Outdated:
        *out << "outdated(\"" << status.installed() << "\" → \"" << status.available() << "\")";
        return;
    case CloneStatus::Kind::Damaged:
        *out << "damaged(\"" << status.reason() << "\")";
        return;
    case CloneStatus::Kind::SourceMissing:
        *out << "sourceMissing";
        return;
    case CloneStatus::Kind::NotBuilt:
        *out << "notBuilt";
        return;
    }
    *out << "CloneStatus kind " << static_cast<int>(status.kind());
}

inline void PrintTo(CloneStatus::Kind kind, std::ostream* out)
{
    constexpr const char* names[] = {"Ready", "Outdated", "Damaged", "SourceMissing", "NotBuilt"};
    *out << "CloneStatus::Kind::" << names[static_cast<int>(kind)];
}

inline void PrintTo(FileError::Kind kind, std::ostream* out)
{
    constexpr const char* names[] = {"ReadUnknown", "ReadNoSuchFile", "ReadCorrupt", "WriteUnknown", "WriteFileExists",
        "RemoveUnknown", "PropertyListCorrupt"};
    *out << "FileError::Kind::" << names[static_cast<int>(kind)];
}

inline void PrintTo(CloneError::Kind kind, std::ostream* out)
{
    *out << (kind == CloneError::Kind::SourceMissing ? "CloneError::Kind::SourceMissing"
                                                     : "CloneError::Kind::LauncherMissing");
}

inline void PrintTo(const Uuid& id, std::ostream* out)
{
    *out << id.toString();
}

inline void PrintTo(const ProfileColor& color, std::ostream* out)
{
    *out << color.rawValue();
}

inline void PrintTo(TaskBarIdentity identity, std::ostream* out)
{
    *out << TaskBarIdentities::rawValue(identity);
}

inline void PrintTo(const Timestamp& time, std::ostream* out)
{
    *out << time.iso8601() << " (" << ::testing::PrintToString(time.secondsSince1970) << ")";
}

inline void PrintTo(const Profile& profile, std::ostream* out)
{
    *out << "“" << profile.name << "” " << profile.id.toString() << ' ' << profile.color.rawValue() << ' '
         << profile.createdAt.iso8601();
}

inline void PrintTo(const Bitmap::Rgba& pixel, std::ostream* out)
{
    *out << "rgba(" << int(pixel.red) << ", " << int(pixel.green) << ", " << int(pixel.blue) << ", " << int(pixel.alpha)
         << ")";
}

inline void PrintTo(const PlistValue& value, std::ostream* out)
{
    if (const auto* text = value.asString())
        *out << ::testing::PrintToString(*text);
    else if (const auto number = value.asInteger())
        *out << *number;
    else if (const auto large = value.asUnsignedInteger())
        *out << *large;
    else if (const auto real = value.asReal())
        *out << ::testing::PrintToString(*real);
    else if (const auto flag = value.asBoolean())
        *out << (*flag ? "true" : "false");
    else if (const auto date = value.asDate())
        PrintTo(*date, out);
    else if (const auto* data = value.asData())
        *out << "<" << data->size() << " bytes>";
    else if (const auto* array = value.asArray())
        *out << ::testing::PrintToString(*array);
    else if (const auto* dictionary = value.asDictionary())
        *out << ::testing::PrintToString(*dictionary);
}

inline void PrintTo(const SessionImporter::Summary& summary, std::ostream* out)
{
    *out << summary.missingSessions << " sessions, " << summary.missingFiles << " files missing";
    if (!summary.leftOut.empty())
        *out << ", left out " << ::testing::PrintToString(summary.leftOut);
}

} // namespace korvel
