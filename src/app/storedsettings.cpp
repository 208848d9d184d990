// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/storedsettings.h"

#include <QSettings>

namespace
{

constexpr int Km4CfgItems = 5;

void readText(QSettings& s, const char* key, QString& value)
{
    const QVariant v = s.value(QLatin1String(key));
    if (v.isValid() && v.canConvert<QString>() && v.typeId() != QMetaType::QStringList)
        value = v.toString();
}

std::optional<bool> readBool(QSettings& s, const char* key)
{
    const QString t = s.value(QLatin1String(key)).toString().trimmed().toLower();
    if (t == u"true" || t == u"1")
        return true;
    if (t == u"false" || t == u"0")
        return false;
    return std::nullopt;
}

std::optional<int> readInt(QSettings& s, const char* key)
{
    bool ok = false;
    const int v = s.value(QLatin1String(key)).toString().trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

} // namespace

void StoredSettings::Load(QSettings& s)
{
    *this = StoredSettings();
    if (s.status() != QSettings::NoError)
        return;
    readText(s, "BaseGW.Text", BaseGW);
    readText(s, "BaseIP.Text", BaseIP);
    readText(s, "BaseMask.Text", BaseMask);
    readText(s, "BasePortC.Text", BasePortC);
    readText(s, "BasePortD.Text", BasePortD);
    readText(s, "BaseIPadapter.Text", BaseIPadapter);
    readText(s, "BaseMacAdapter.Text", BaseMacAdapter);

    // The unit is one of three radio items: take the stored choice only if exactly one is set.
    const auto n1 = readBool(s, "N1.Checked");
    const auto n2 = readBool(s, "N2.Checked");
    const auto n3 = readBool(s, "N3.Checked");
    if (n1 && n2 && n3 && int(*n1) + int(*n2) + int(*n3) == 1) {
        N1 = *n1;
        N2 = *n2;
        N3 = *n3;
    }
    readText(s, "LabeledEdit1.Text", LabeledEdit1);
    const auto ts = readInt(s, "gbTS.Height");
    if (ts && *ts >= 0)
        gbTSHeight = ts;
    const auto tit = readInt(s, "gbTIT.Height");
    if (tit && *tit >= 0)
        gbTITHeight = tit;
    const auto km4 = readInt(s, "Km4Cfg.ItemIndex");
    if (km4 && *km4 >= -1 && *km4 < Km4CfgItems)
        Km4CfgItemIndex = *km4;
    WindowGeometry = s.value(QStringLiteral("Window.Geometry")).toByteArray();
    const auto state = readInt(s, "Window.State");
    if (state)
        WindowState = *state;
}

void StoredSettings::Save(QSettings& s) const
{
    s.setValue(QStringLiteral("BaseGW.Text"), BaseGW);
    s.setValue(QStringLiteral("BaseIP.Text"), BaseIP);
    s.setValue(QStringLiteral("BaseMask.Text"), BaseMask);
    s.setValue(QStringLiteral("BasePortC.Text"), BasePortC);
    s.setValue(QStringLiteral("BasePortD.Text"), BasePortD);
    s.setValue(QStringLiteral("BaseIPadapter.Text"), BaseIPadapter);
    s.setValue(QStringLiteral("BaseMacAdapter.Text"), BaseMacAdapter);
    s.setValue(QStringLiteral("N1.Checked"), N1);
    s.setValue(QStringLiteral("N2.Checked"), N2);
    s.setValue(QStringLiteral("N3.Checked"), N3);
    s.setValue(QStringLiteral("LabeledEdit1.Text"), LabeledEdit1);
    if (gbTSHeight)
        s.setValue(QStringLiteral("gbTS.Height"), *gbTSHeight);
    if (gbTITHeight)
        s.setValue(QStringLiteral("gbTIT.Height"), *gbTITHeight);
    s.setValue(QStringLiteral("Km4Cfg.ItemIndex"), Km4CfgItemIndex);
    s.setValue(QStringLiteral("Window.Geometry"), WindowGeometry);
    s.setValue(QStringLiteral("Window.State"), WindowState);
    s.sync();
}

QSettings* OpenSettingsStore()
{
    return new QSettings(QStringLiteral("Brantell"), QStringLiteral("TavenaConfig"));
}
