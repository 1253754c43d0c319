#include "ApplicationIcon.h"
#include "MainForm.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(ApplicationIcon, TheResourceIsTheDrawingThePackageInstalls)
{
    QFile resource(QStringLiteral(":/APPL_ICON"));
    QFile installed(QStringLiteral(KSN_APPLICATION_ICON_FILE));
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    EXPECT_EQ(resource.readAll(), installed.readAll());
}

TEST(ApplicationIcon, TheWindowCarriesItAtTheSizesFramesAskFor)
{
    QApplication::setWindowIcon(QIcon());
    QTemporaryDir settings;
    MainFormSetup setup;
    setup.SettingsDirectory = settings.path();
    const auto form = std::make_unique<TMainForm>(std::move(setup));

    for (const QIcon& icon : {QApplication::windowIcon(), form->windowIcon()}) {
        ASSERT_FALSE(icon.isNull());
        for (const int size : {16, 32, 48, 64}) {
            SCOPED_TRACE(size);
            const QImage image = icon.pixmap(size, size).toImage();
            ASSERT_EQ(image.size(), QSize(size, size));
            // A rounded panel: transparent corners, the drawing inside.
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
            EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
        }
    }
}

}  // namespace
