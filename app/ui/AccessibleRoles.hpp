#pragma once

namespace korvel {

// What assistive technology is told Korvel's own small widgets are: badges and status dots are images, with the
// names the widgets give themselves. Qt would report them as empty panels.
namespace AccessibleRoles {

// Registers the roles with Qt's accessibility; once is enough, later calls do nothing.
void install();

} // namespace AccessibleRoles
} // namespace korvel
