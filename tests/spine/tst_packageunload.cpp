// The package as the host sees it: a library with plain-named entry points and module state,
// loaded and unloaded at run time.
#include <QLibrary>
#include <QTest>

class tst_PackageUnload : public QObject
{
    Q_OBJECT

private slots:
    void exportsItsEntryPointsAndState_data();
    void exportsItsEntryPointsAndState();
    void unloadingReleasesTheSelectionTexts();

private:
    static QString packagePath()
    {
        return qEnvironmentVariable("FIS_LIB_DIR") + QStringLiteral("/libPkg_Fis11000.so");
    }
};

void tst_PackageUnload::exportsItsEntryPointsAndState_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("symbol");
    for (const char *name : {"IniProc", "CriaCompraLEGAL", "CriaFtrCompraLEGAL"})
        QTest::addRow("entry point %s", name) << "entry point" << QByteArray(name);
    for (const char *name : {"frmCompraLegalBA", "frmFiltroCompraLEGALBA"})
        QTest::addRow("form %s", name) << "form" << QByteArray(name);
    for (const char *name : {"boIdCriado", "boEntra", "boConfirma", "boVazio"})
        QTest::addRow("flag %s", name) << "flag" << QByteArray(name);
    for (const char *name : {"stStatus", "stCodTipoOper", "stCodSerie"})
        QTest::addRow("text %s", name) << "text" << QByteArray(name);
}

// Freshly loaded, every piece of module state starts empty, false or null.
void tst_PackageUnload::exportsItsEntryPointsAndState()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, symbol);
    QLibrary package(packagePath());
    QVERIFY2(package.load(), qPrintable(package.errorString()));
    QFunctionPointer address = package.resolve(symbol.constData());
    QVERIFY(address);
    if (kind == u"form")
        QCOMPARE(*reinterpret_cast<void **>(address), nullptr);
    else if (kind == u"flag")
        QVERIFY(!*reinterpret_cast<bool *>(address));
    else if (kind == u"text")
        QVERIFY(reinterpret_cast<QString *>(address)->isEmpty());
    QVERIFY(package.unload());
}

void tst_PackageUnload::unloadingReleasesTheSelectionTexts()
{
    // Each text gets a string that shares its data with a probe kept here: once the package has
    // let go of it, the probe holds its data alone.
    QString status = QStringLiteral("T");
    QString operations = QStringLiteral("E01,E02");
    QString series = QStringLiteral("S1,SU");
    status.detach();
    operations.detach();
    series.detach();

    QLibrary package(packagePath());
    QVERIFY2(package.load(), qPrintable(package.errorString()));
    *reinterpret_cast<QString *>(package.resolve("stStatus")) = status;
    *reinterpret_cast<QString *>(package.resolve("stCodTipoOper")) = operations;
    *reinterpret_cast<QString *>(package.resolve("stCodSerie")) = series;
    QVERIFY(!status.isDetached());
    QVERIFY(!operations.isDetached());
    QVERIFY(!series.isDetached());

    QVERIFY(package.unload());
    QVERIFY(status.isDetached());
    QVERIFY(operations.isDetached());
    QVERIFY(series.isDetached());

    // Loaded again, the package starts empty.
    QLibrary again(packagePath());
    QVERIFY2(again.load(), qPrintable(again.errorString()));
    QVERIFY(reinterpret_cast<QString *>(again.resolve("stStatus"))->isEmpty());
    QVERIFY(reinterpret_cast<QString *>(again.resolve("stCodSerie"))->isEmpty());
    again.unload();
}

QTEST_GUILESS_MAIN(tst_PackageUnload)
#include "tst_packageunload.moc"
