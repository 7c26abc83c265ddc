#pragma once

#include <QString>
#include <optional>

namespace zrp {

// Facts about the device the client runs on. This product is always the tablet idiom.
namespace Device {

enum Idiom
{
    IdiomPhone = 0,
    IdiomPad = 1
};

int userInterfaceIdiom(); // IdiomPad
double screenScale();     // device pixel ratio of the primary screen (1 without a screen)
int mainScreenWidthPoints();
QString systemVersion();

// The machine identifier ("hw.machine" on the tablet; the CPU architecture here, e.g. "x86_64").
QString platformName();
QString platformDescription();
int platformType();
bool supportsSystemMirroring();

// Hardware address of the primary network interface as "%02X:%02X:%02X:%02X:%02X:%02X".
std::optional<QString> macaddress();
// MD5 of the hardware address text followed by the bundle identifier; without an address the
// formula has no address part.
QString uniqueDeviceIdentifier();
QString uniqueGlobalDeviceIdentifier();

// Test hooks: pin the machine identifier, the screen width, the hardware address. Empty or
// negative values restore the real ones.
void setPlatformNameForTesting(const QString& name);
void setMainScreenWidthForTesting(int points);
void setMacAddressForTesting(const std::optional<QString>& address, bool override);

} // namespace Device

// Facts the build stamps into the application.
namespace Bundle {
QString version();         // "CFBundleVersion"
QString shortVersion();    // marketing version
QString internalVersion(); // "ZRPInternalVersion"; may be empty
QString identifier();
QString displayName();
QString name();
} // namespace Bundle

} // namespace zrp
