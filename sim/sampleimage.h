// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A sample firmware image file for the demo and the tests: never a real block's firmware.
//
// Layout of an image file (flat bytes): the application firmware at offsets 0x2000-0x7DBF with
// its version text at 0x2080, the loader at 0xEA00-0xEBFF; 0xEC00 bytes in all.

#include <QByteArray>
#include <QString>

namespace kpsim::image
{

constexpr int Size = 0xEC00;
constexpr int Firmware = 0x2000;
constexpr int FirmwareSize = 24000;
constexpr int Version = 0x2080;
constexpr int VersionAreaSize = 64; // the text, then zeros up to the firmware's code
constexpr int Loader = 0xEA00;
constexpr int LoaderSize = 512;

// 0xFF outside the two ranges. The firmware range opens with a notice, then the version text
// (cut at 48 bytes) padded with zeros up to 0x20C0, then byte p = (p ^ (p >> 8)) & 0xFF, so a
// chunk that lands in the wrong place shows. The loader range holds a notice and the same
// pattern.
QByteArray SampleImage(const QByteArray& versionText);
// Writes SampleImage to the file; false with a message when it cannot.
bool WriteSampleImage(const QString& path, const QByteArray& versionText, QString* error);

} // namespace kpsim::image
