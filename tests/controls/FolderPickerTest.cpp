// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the folder picker's dialog set-up and of how a selection becomes
// the returned path (the modal dialog itself needs a person).
#include "BrowseForFolderU.h"
#include "TemporaryFolder.h"

#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QTest>
#include <QToolButton>

using namespace lumivane;

class FolderPickerTest : public QObject {
    Q_OBJECT

private slots:
    void Configure_AsksForOneExistingFolder();
    void Configure_StartFolder_data();
    void Configure_StartFolder();
    void Configure_NewFolderButton_OnlyWhenAllowed_data();
    void Configure_NewFolderButton_OnlyWhenAllowed();
    void ChosenFolder_AcceptsOnlyExistingFolders();
};

void FolderPickerTest::Configure_AsksForOneExistingFolder()
{
    QFileDialog dialog;
    ConfigureFolderDialog(dialog, QStringLiteral("Select output folder"), QString(), true);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select output folder"));
    QCOMPARE(dialog.fileMode(), QFileDialog::Directory);
    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
    QVERIFY(dialog.testOption(QFileDialog::ShowDirsOnly));
    QCOMPARE(dialog.windowModality(), Qt::ApplicationModal);
}

void FolderPickerTest::Configure_StartFolder_data()
{
    QTest::addColumn<bool>("giveStart");
    QTest::newRow("start folder given") << true;
    QTest::newRow("no start folder") << false;
}

void FolderPickerTest::Configure_StartFolder()
{
    QFETCH(bool, giveStart);
    const lumivane::test_support::TemporaryFolder startFolder("lumivane-picker");
    const QDir start(QString::fromStdString(startFolder.str()));

    QFileDialog untouched;
    const QString defaultPlace = untouched.directory().absolutePath();
    QVERIFY(defaultPlace != start.path());

    QFileDialog dialog;
    ConfigureFolderDialog(dialog, QStringLiteral("t"), giveStart ? start.path() : QString(), true);
    QCOMPARE(dialog.directory().absolutePath(), giveStart ? start.path() : defaultPlace);
}

void FolderPickerTest::Configure_NewFolderButton_OnlyWhenAllowed_data()
{
    QTest::addColumn<bool>("allowNewFolder");
    QTest::newRow("allowed") << true;
    QTest::newRow("not allowed") << false;
}

void FolderPickerTest::Configure_NewFolderButton_OnlyWhenAllowed()
{
    QFETCH(bool, allowNewFolder);
    const lumivane::test_support::TemporaryFolder startFolder("lumivane-picker");
    const QDir start(QString::fromStdString(startFolder.str()));
    QFileDialog dialog;
    ConfigureFolderDialog(dialog, QStringLiteral("t"), start.path(), allowNewFolder);
    QCOMPARE(dialog.testOption(QFileDialog::ReadOnly), !allowNewFolder);
    QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.show();
    auto* newFolder = dialog.findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    QVERIFY(newFolder);
    QTRY_COMPARE(newFolder->isVisible() && newFolder->isEnabled(), allowNewFolder);
    dialog.reject();
}

void FolderPickerTest::ChosenFolder_AcceptsOnlyExistingFolders()
{
    const lumivane::test_support::TemporaryFolder rootFolder("lumivane-picker");
    const QDir root(QString::fromStdString(rootFolder.str()));
    const QString file = root.filePath(QStringLiteral("a.jpg"));
    QFile touch(file);
    QVERIFY(touch.open(QIODevice::WriteOnly));
    touch.close();

    QCOMPARE(ChosenFolder({root.path()}), root.path());
    QCOMPARE(ChosenFolder({root.path(), file}), root.path());
    QCOMPARE(ChosenFolder({}), QString());
    QCOMPARE(ChosenFolder({file}), QString());
    QCOMPARE(ChosenFolder({root.filePath(QStringLiteral("missing"))}), QString());
    QCOMPARE(ChosenFolder({QString()}), QString());
}

QTEST_MAIN(FolderPickerTest)
#include "FolderPickerTest.moc"
