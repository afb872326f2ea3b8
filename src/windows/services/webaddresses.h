#pragma once

#include <QString>
#include <QUrl>

struct SettingKey;

// The web addresses an administrator sets in the data store ("Updates/url", "Banner/url",
// "Site/url", "Forum/url"). Until one is set the program asks no server for it and offers no entry
// that would lead there: nothing is ever fetched from or opened at an address the school did not
// choose.
namespace WebAddresses {
// The http or https address stored under `key`; empty when none is set. A value that is not a web
// address is logged and counts as unset.
QUrl configured(const SettingKey& key);
QUrl updates();
QUrl banner();
QUrl site();
QUrl forum();
// The file an administrator edits to set them: the data store, in native separators.
QString settingsFile();
} // namespace WebAddresses
