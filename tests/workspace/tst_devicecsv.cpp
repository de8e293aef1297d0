// SPDX-License-Identifier: GPL-3.0-or-later
// The list the window exports with its edits is a changes file that gives
// another copy of the project the same edits; labels that a spreadsheet would
// run as formulas go out as text.

#include "dataobjectmodel.h"
#include "devicecsv.h"
#include "deviceentity.h"
#include "projectentity.h"
#include "projectfixture.h"
#include "projectworkspace.h"

#include <QtTest>

namespace {

QStringList edits(const ProjectEntity &project)
{
    QStringList seen;
    for (const DeviceEntity *d : project.devices()->objectsOfType<DeviceEntity>())
        seen << d->oldMac() + " " + d->newMac() + " " + d->newLabel();
    return seen;
}

} // namespace

class TestDeviceCsv : public QObject
{
    Q_OBJECT

private slots:
    void exportedEditsApplyAgain()
    {
        ProjectFixture f;
        f.addProjectXml("Hall", "Ann", "Show");
        f.addKsb12("00:1a:2b:00:00:01", QByteArray("Amp, \"one\"").append(6, '\0'));
        f.addTando("00:1a:2b:3c:4d:5e", "Front");
        f.addTando("00:1a:2b:3c:4d:5f", QStringLiteral("B\u00fchne"));
        f.addTando("00:1a:2b:3c:4d:60", "=HYPERLINK(\"x\")");
        f.addTando("00:1a:2b:3c:4d:61", "@SUM(1)");
        f.addTando("00:1a:2b:3c:4d:62", "+1-2");
        const QString archive = f.makeTgz("venue.tgz");
        ProjectEntity edited;
        ProjectEntity other;
        QVERIFY(Workspace::loadProject(edited, archive));
        QVERIFY(Workspace::loadProject(other, archive));
        QList<DeviceEntity *> devices = edited.devices()->objectsOfType<DeviceEntity>();
        devices.at(0)->setNewLabel("Amp 2");
        devices.at(2)->setNewMac("00:1a:2b:3C:4D:FF");

        const QByteArray list = Workspace::DeviceCsv::write(edited, Workspace::DeviceCsv::Columns::WithEdits);
        QVERIFY2(list.startsWith("type,label,mac,new_label,new_mac\nKSB12,\"Amp, \"\"one\"\"\",00:1a:2b:00:00:01,Amp 2,\n"),
                 list.constData());
        QVERIFY2(list.endsWith("TANDO/QL3,\"'=HYPERLINK(\"\"x\"\")\",00:1a:2b:3c:4d:60,,\n"
                               "TANDO/QL3,'@SUM(1),00:1a:2b:3c:4d:61,,\nTANDO/QL3,'+1-2,00:1a:2b:3c:4d:62,,\n"),
                 list.constData());
        QList<Workspace::DeviceCsv::Change> changes;
        QCOMPARE(Workspace::DeviceCsv::readChanges(list, "list.csv", other, &changes), QStringList());
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(1).line, 4);
        Workspace::DeviceCsv::applyChanges(other, changes);
        QStringList expected = edits(edited);
        expected.replaceInStrings("3C:4D:FF", "3c:4d:ff");
        QCOMPARE(edits(other), expected);
        Workspace::unloadProject(edited);
        Workspace::unloadProject(other);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCsv)
#include "tst_devicecsv.moc"
