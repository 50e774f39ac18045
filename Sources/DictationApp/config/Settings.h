#pragma once

#include "Dates.h"
#include "FileError.h"
#include "HotKey.h"
#include "Retention.h"
#include "WritingContext.h"
#include "WritingStyle.h"

#include <optional>
#include <string>

// The user's small choices, in an INI file that the app and the connector server both read.
// Every read goes to the file again, so a change made by the other process counts at the next
// use. A missing value, or one of the wrong type, reads as the key's default.
namespace Settings {

// Appearance of the main window, by index: "Light", "Dark", "Match system".
enum class Look { light, dark, matchSystem };

std::optional<HotKey> key(); // nothing: use the key the command line chose
void setKey(HotKey key);

Retention retention(); // default month
void setRetention(Retention retention);

bool keepAudio();
void setKeepAudio(bool keep);

bool playSound(); // true unless a boolean false is stored
void setPlaySound(bool play);

bool offersCrashReports();
void setOffersCrashReports(bool offers);

std::optional<Timestamp> lastCrashReport();
void setLastCrashReport(std::optional<Timestamp> time); // nothing removes the key

bool hasCompletedSetup();
void setHasCompletedSetup(bool done);

bool hidesSteps();
void setHidesSteps(bool hides);

Look look();
void setLook(Look look);

WritingStyle style(AppGroup group); // polished unless chosen
void setStyle(WritingStyle style, AppGroup group);
bool hasChosenStyle(); // any "style-" key present, whatever it holds

std::string profileName(); // the account's full name until the user edits it
void setProfileName(const std::string& name);

// Writes or removes the desktop's autostart entry for this executable. Throws FileError.
void setOpensAtLogin(bool opens);
bool opensAtLogin();

} // namespace Settings
