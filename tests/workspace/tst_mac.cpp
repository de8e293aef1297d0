// SPDX-License-Identifier: GPL-3.0-or-later
#include "dataobjectmodel.h"
#include "deviceedits.h"
#include "deviceentity.h"
#include "mac.h"
#include "projectentity.h"
#include "projectworkspace.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QString invalid = QStringLiteral("This is not a valid MAC");
const QString taken = QStringLiteral("This MAC address is already assigned");
} // namespace

class TestMac : public QObject
{
    Q_OBJECT

private slots:
    void normalizeMac_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("expected");

        QTest::newRow("dashes upper to colon") << "AA-BB-CC-DD-EE-FF" << ":" << "aa:bb:cc:dd:ee:ff";
        QTest::newRow("dashes upper to underscore") << "AA-BB-CC-DD-EE-FF" << "_" << "aa_bb_cc_dd_ee_ff";
        QTest::newRow("one-digit groups padded") << "a:b:c:d:e:f" << ":" << "0a:0b:0c:0d:0e:0f";
        QTest::newRow("single spaces") << "aa bb cc dd ee ff" << ":" << "aa:bb:cc:dd:ee:ff";
        QTest::newRow("underscores from disk") << "00_1A_2B_3C_4D_5E" << ":" << "00:1a:2b:3c:4d:5e";
        QTest::newRow("mixed split characters") << "00:1a-2b_3c 4d:5e" << "_" << "00_1a_2b_3c_4d_5e";
        QTest::newRow("no separators unchanged") << "AABBCCDDEEFF" << ":" << "AABBCCDDEEFF";
        QTest::newRow("dots unchanged, case kept") << "AA.BB.CC.DD.EE.FF" << ":" << "AA.BB.CC.DD.EE.FF";
        QTest::newRow("empty piece kept") << "aa::bb:cc:dd:ee" << ":" << "aa::bb:cc:dd:ee";
        QTest::newRow("seven pieces unchanged") << "aa:bb:cc:dd:ee:ff:00" << ":" << "aa:bb:cc:dd:ee:ff:00";
        QTest::newRow("five pieces unchanged, case kept") << "AA:BB:CC:DD:EE" << "_" << "AA:BB:CC:DD:EE";
        QTest::newRow("long pieces kept, lowered") << "AAA:b:c:d:e:f" << ":" << "aaa:0b:0c:0d:0e:0f";
        QTest::newRow("leading separator gives empty first piece") << ":a:b:c:d:e" << "-" << "-0a-0b-0c-0d-0e";
        QTest::newRow("empty text") << "" << ":" << "";
        QTest::newRow("label-like name") << "Stage Left" << ":" << "Stage Left";
    }

    void normalizeMac()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(QString, expected);
        QCOMPARE(Mac::normalizeMac(text, separator), expected);
    }

    void macSyntax_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");

        QTest::newRow("colons") << "00:11:22:33:44:55" << true;
        QTest::newRow("upper and lower mixed") << "aA:Bb:cC:dD:eE:Ff" << true;
        QTest::newRow("dashes") << "00-11-22-33-44-55" << true;
        QTest::newRow("dots") << "00.11.22.33.44.55" << true;
        QTest::newRow("mixed separators") << "00:11-22.33:44-55" << true;
        QTest::newRow("non-hex digit") << "00:11:22:33:44:5G" << false;
        QTest::newRow("trailing space") << "00:11:22:33:44:55 " << false;
        QTest::newRow("leading space") << " 00:11:22:33:44:55" << false;
        QTest::newRow("one-digit group") << "0:11:22:33:44:55" << false;
        QTest::newRow("seven groups") << "00:11:22:33:44:55:66" << false;
        QTest::newRow("five groups") << "00:11:22:33:44" << false;
        QTest::newRow("underscore separator") << "00_11_22_33_44_55" << false;
        QTest::newRow("double separator") << "00::11:22:33:44:55" << false;
        QTest::newRow("no separators") << "001122334455" << false;
        QTest::newRow("trailing newline") << "00:11:22:33:44:55\n" << false;
        QTest::newRow("half-typed mask") << "00:1a:2b:3c::" << false;
        QTest::newRow("empty") << "" << false;
    }

    void macSyntax()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(Mac::isValidMacSyntax(text), valid);
    }

    void completeNewMac_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("problem");

        const QString prefixProblem = QStringLiteral("only the last three bytes of a MAC can change");
        const QString notAMac = QStringLiteral("not a MAC, nor the last three bytes of one");
        QTest::newRow("last three, colons") << "3c:4d:ff" << "00:1a:2b:3c:4d:ff" << "";
        QTest::newRow("last three, dashes upper") << "3C-4D-FF" << "00:1a:2b:3c:4d:ff" << "";
        QTest::newRow("last three, no separators") << "3c4dff" << "00:1a:2b:3c:4d:ff" << "";
        QTest::newRow("last three, one-digit pieces, blanks") << " 3 d f " << "00:1a:2b:03:0d:0f" << "";
        QTest::newRow("whole, dashes upper") << "00-1A-2B-3C-4D-AA" << "00:1a:2b:3c:4d:aa" << "";
        QTest::newRow("whole, underscores") << "00_1a_2b_3c_4d_aa" << "00:1a:2b:3c:4d:aa" << "";
        QTest::newRow("whole, dots") << "00.1a.2b.3c.4d.aa" << "00:1a:2b:3c:4d:aa" << "";
        QTest::newRow("whole, unchanged") << "00:1a:2b:3c:4d:5e" << "00:1a:2b:3c:4d:5e" << "";
        QTest::newRow("other vendor prefix") << "00:aa:bb:3c:4d:5e" << "" << "00:aa:bb:3c:4d:5e: " + prefixProblem;
        QTest::newRow("non-hex suffix") << "3c:4d:zz" << "" << "3c:4d:zz: " + notAMac;
        QTest::newRow("four pieces") << "2b:3c:4d:ff" << "" << "2b:3c:4d:ff: " + notAMac;
        QTest::newRow("whole, twelve digits run together") << "001A2b3c4dFF" << "00:1a:2b:3c:4d:ff" << "";
        QTest::newRow("eleven digits run together") << "001a2b3c4df" << "" << "001a2b3c4df: " + notAMac;
        QTest::newRow("three-digit piece") << "3c:4d:fff" << "" << "3c:4d:fff: " + notAMac;
        QTest::newRow("blank") << " " << "" << "the new MAC is empty";
    }

    // The device's MAC as loaded is 00:1A:2B:3C:4D:5E in every row.
    void completeNewMac()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QFETCH(QString, problem);
        QString mac = QStringLiteral("untouched");
        const Result taken = Workspace::completeNewMac(QStringLiteral("00:1A:2B:3C:4D:5E"), input, &mac);
        QCOMPARE(mac, expected);
        QCOMPARE(taken.isFailure() ? taken.reason() : QString(), problem);
    }

    void validateNewSettings_data()
    {
        QTest::addColumn<QStringList>("macs");
        QTest::addColumn<QStringList>("issues");
        QTest::addColumn<bool>("result");

        QTest::newRow("no devices") << QStringList() << QStringList() << true;
        QTest::newRow("all unique") << QStringList{"00:11:22:33:44:55", "00:11:22:33:44:56"}
                                    << QStringList{"", ""} << true;
        QTest::newRow("one bad syntax") << QStringList{"00:11:22:33:44:55", "00:11:22:33:44:5G"}
                                        << QStringList{"", invalid} << false;
        QTest::newRow("syntax pass hides duplicates")
            << QStringList{"00:11:22:33:44:55", "00:11:22:33:44:55", "00:11:22:33:44:5G"}
            << QStringList{"", "", invalid} << false;
        QTest::newRow("every bad one marked")
            << QStringList{"zz", "00:11:22:33:44:55", "0:11:22:33:44:55"}
            << QStringList{invalid, "", invalid} << false;
        QTest::newRow("case and separator make duplicates")
            << QStringList{"AA:BB:CC:DD:EE:FF", "aa-bb-cc-dd-ee-ff", "aa:bb:cc:dd:ee:ff"}
            << QStringList{"", taken, taken} << false;
        QTest::newRow("dotted compared as typed")
            << QStringList{"aa.bb.cc.dd.ee.ff", "aa:bb:cc:dd:ee:ff", "AA.BB.CC.DD.EE.FF"}
            << QStringList{"", "", ""} << true;
        QTest::newRow("dotted identical is duplicate")
            << QStringList{"aa.bb.cc.dd.ee.ff", "aa.bb.cc.dd.ee.ff"}
            << QStringList{"", taken} << false;
    }

    void validateNewSettings()
    {
        QFETCH(QStringList, macs);
        QFETCH(QStringList, issues);
        QFETCH(bool, result);

        ProjectEntity project;
        QList<QObject *> devices;
        for (const QString &mac : macs) {
            auto *device = new DeviceEntity(&project);
            device->setNewMac(mac);
            device->setIssue(QStringLiteral("stale"));
            devices.append(device);
        }
        project.devices()->append(devices);

        QCOMPARE(Workspace::validateNewSettings(project), result);
        QStringList actual;
        for (QObject *o : devices)
            actual << static_cast<DeviceEntity *>(o)->issue();
        QCOMPARE(actual, issues);
    }

    void clearedIssueIsAnnouncedOnce()
    {
        ProjectEntity project;
        auto *fixed = new DeviceEntity(&project);
        auto *quiet = new DeviceEntity(&project);
        fixed->setNewMac("00:11:22:33:44:5G");
        quiet->setNewMac("00:11:22:33:44:66");
        project.devices()->append(fixed);
        project.devices()->append(quiet);
        QVERIFY(!Workspace::validateNewSettings(project));
        QCOMPARE(fixed->issue(), invalid);

        fixed->setNewMac("00:11:22:33:44:55");
        QSignalSpy fixedSpy(fixed, &DeviceEntity::issueChanged);
        QSignalSpy quietSpy(quiet, &DeviceEntity::issueChanged);
        QVERIFY(Workspace::validateNewSettings(project));
        QVERIFY(spyCarries(fixedSpy, {QString()}));
        QCOMPARE(quietSpy.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMac)
#include "tst_mac.moc"
