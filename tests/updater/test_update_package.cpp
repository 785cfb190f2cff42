#include "updater/update_package.h"

#include "package_builder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

using Kind = UpdatePackage::Failure::Kind;

// A working folder with the extraction folder inside and a sibling that must stay empty.
class PackageTest : public ::testing::Test {
protected:
    PackageTest() {
        QDir(dir.path()).mkpath(QStringLiteral("work/Extracted"));
        QDir(dir.path()).mkpath(QStringLiteral("outside"));
    }
    QString archive() const { return dir.filePath(QStringLiteral("work/package.zip")); }
    QString extracted() const { return dir.filePath(QStringLiteral("work/Extracted")); }
    std::optional<UpdatePackage::Failure> extract(const std::vector<ZipEntry>& entries,
                                                  const UpdatePackage::Limits& limits = {}) {
        EXPECT_TRUE(writeZip(archive(), entries));
        return UpdatePackage::extract(archive(), extracted(), limits);
    }
    // Nothing landed beside the working folder.
    void expectNothingOutside() {
        EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("outside"))).isEmpty());
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 2);
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/quillvex-evil")));
    }

    QTemporaryDir dir;
};

TEST(UpdatePackageNames, ArchiveNameIsTheLastComponentOrTheFallback) {
    EXPECT_EQ(UpdatePackage::archiveFileName(QUrl("https://u.example/files/Quillvex-2.1.zip")), "Quillvex-2.1.zip");
    EXPECT_EQ(UpdatePackage::archiveFileName(QUrl("https://u.example/files/Quillvex%202.zip")), "Quillvex 2.zip");
    for (const char* url : {"https://u.example/files/", "https://u.example", "https://u.example/a/.", "https://u.example/a/..",
                            "https://u.example/a/%2E%2E", "https://u.example/a/%2e",
                            "https://u.example/a/x%00y"}) {
        EXPECT_EQ(UpdatePackage::archiveFileName(QUrl(url)), "QuillvexUpdate.zip") << url;
    }
    // An encoded slash never reaches the file name: only what follows it does.
    EXPECT_EQ(UpdatePackage::archiveFileName(QUrl("https://u.example/a/..%2F..%2Fx")), "x");
    EXPECT_EQ(UpdatePackage::workingDirectoryName("2.1/beta", "ABC"), "2.1-beta-ABC");
}

TEST_F(PackageTest, DigestIsLowerCaseHexOfTheWholeFile) {
    QFile file(archive());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    EXPECT_EQ(UpdatePackage::sha256Hex(archive()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    UpdatePackage::Failure failure;
    EXPECT_FALSE(UpdatePackage::sha256Hex(dir.filePath("missing.zip"), &failure));
    EXPECT_EQ(failure.kind, Kind::File);
}

TEST_F(PackageTest, ExtractsABundleInASubfolderWithItsLinksAndModes) {
    std::vector<ZipEntry> entries = bundleEntries("Release/Quillvex.app");
    entries.insert(entries.begin(), ZipEntry::file("Release/Aaa.txt", "readme"));
    entries.push_back(ZipEntry::file("Release/Setuid", "x", 04777));
    entries.push_back(ZipEntry::file("Release/Streamed.bin", QByteArray(70000, 's')));
    entries.back().sizeInHeader = false;
    ASSERT_EQ(extract(entries), std::nullopt);
    const QString bundle = extracted() + "/Release/Quillvex.app";
    EXPECT_EQ(UpdatePackage::findApplication(extracted()), QFileInfo(bundle).canonicalFilePath());
    EXPECT_TRUE(QFileInfo(bundle + "/Contents/MacOS/Quillvex").isExecutable());
    EXPECT_EQ(QFileInfo(bundle + "/Contents/Resources/Current").symLinkTarget(), bundle + "/Contents/Resources/A");
    EXPECT_EQ(QFileInfo(extracted() + "/Release/Streamed.bin").size(), 70000);
    EXPECT_EQ(QFile::permissions(extracted() + "/Release/Setuid") & QFileDevice::WriteOther, QFileDevice::Permissions());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(extracted() + "/Release/Setuid").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);  // no set-id bits
    ASSERT_EQ(::stat(QFile::encodeName(bundle + "/Contents/MacOS").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u & ~currentUmask());  // others may start the installed copy
    expectNothingOutside();
}

TEST_F(PackageTest, TheFirstBundleInNameOrderWinsAndHiddenOnesAreSkipped) {
    std::vector<ZipEntry> entries = bundleEntries("b/Quillvex.app");
    for (ZipEntry& e : bundleEntries("a/Other.APP")) entries.push_back(e);
    for (ZipEntry& e : bundleEntries(".hidden/A.app")) entries.push_back(e);
    ASSERT_EQ(extract(entries), std::nullopt);
    EXPECT_EQ(UpdatePackage::findApplication(extracted()), QFileInfo(extracted() + "/a/Other.APP").canonicalFilePath());
}

TEST_F(PackageTest, HostileEntriesAreRefusedAndNothingLeavesTheFolder) {
    const std::vector<std::pair<const char*, std::vector<ZipEntry>>> cases = {
        {"dot-dot", {ZipEntry::file("../outside/evil", "x")}},
        {"dot-dot inside", {ZipEntry::file("Quillvex.app/../../outside/evil", "x")}},
        {"absolute", {ZipEntry::file("/tmp/quillvex-evil", "x")}},
        {"absolute link", {ZipEntry::link("Quillvex.app/link", "/etc")}},
        {"outward link", {ZipEntry::link("up", "../../outside")}},
        {"link chain out", {ZipEntry::folder("d/"), ZipEntry::link("d/b", ".."), ZipEntry::link("d/a", "b/..")}},
        {"write through a link", {ZipEntry::link("in", "."), ZipEntry::file("in/x", "x")}},
        {"dangling link", {ZipEntry::link("nothing", "missing")}},
        {"twice", {ZipEntry::file("a", "1"), ZipEntry::file("a", "2")}},
    };
    for (const auto& [name, entries] : cases) {
        SCOPED_TRACE(name);
        QDir(extracted()).removeRecursively();
        QDir().mkpath(extracted());
        const std::optional<UpdatePackage::Failure> failure = extract(entries);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->kind, Kind::Archive);
        EXPECT_TRUE(failure->detail.startsWith("refused")) << failure->detail.toStdString();
        expectNothingOutside();
    }
}

TEST_F(PackageTest, SizeCapsCountWhatIsWrittenNotWhatHeadersSay) {
    UpdatePackage::Limits limits;
    limits.maxTotalBytes = 1 << 20;
    std::optional<UpdatePackage::Failure> failure = extract({ZipEntry::file("big", QByteArray(2 << 20, '\0'))}, limits);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->detail, "refused entry \"big\": larger than the package may unpack to");
    EXPECT_FALSE(QFileInfo::exists(extracted() + "/big"));  // refused on its header, before any byte

    QDir(extracted()).removeRecursively();
    QDir().mkpath(extracted());
    ZipEntry streamed = ZipEntry::file("streamed", QByteArray(2 << 20, '\0'));
    streamed.sizeInHeader = false;
    failure = extract({streamed}, limits);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->detail, "refused entry \"streamed\": larger than the package may unpack to");
    EXPECT_LE(QFileInfo(extracted() + "/streamed").size(), 1 << 20);

    // Both headers claim 16 bytes; the deflated data holds 2 MiB. Writing stops at the claim,
    // well below the package's cap.
    QDir(extracted()).removeRecursively();
    QDir().mkpath(extracted());
    ASSERT_TRUE(writeZip(archive(), {ZipEntry::file("liar", QByteArray(2 << 20, '\0'))}));
    ASSERT_TRUE(claimUncompressedSize(archive(), 16));
    failure = UpdatePackage::extract(archive(), extracted());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->detail, "refused entry \"liar\": larger than its header says");
    EXPECT_LE(QFileInfo(extracted() + "/liar").size(), 16);

    limits = {};
    limits.maxEntries = 3;
    QDir(extracted()).removeRecursively();
    QDir().mkpath(extracted());
    failure = extract({ZipEntry::file("1", "1"), ZipEntry::file("2", "2"), ZipEntry::file("3", "3"), ZipEntry::file("4", "4")}, limits);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->detail, "too many entries");
}

TEST_F(PackageTest, CorruptArchivesAndMissingBundlesFail) {
    ASSERT_TRUE(writeZip(archive(), bundleEntries("Quillvex.app")));
    QFile file(archive());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    bytes.truncate(bytes.size() / 2);
    file.resize(0);
    file.write(bytes);
    file.close();
    std::optional<UpdatePackage::Failure> failure = UpdatePackage::extract(archive(), extracted());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, Kind::Archive);
    EXPECT_FALSE(failure->detail.isEmpty());

    // A local header that is not one, behind an intact central directory.
    ASSERT_TRUE(writeZip(archive(), {ZipEntry::file("a", "1"), ZipEntry::file("b", "2")}));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    bytes = file.readAll();
    const qsizetype second = bytes.indexOf("PK\x03\x04", 4);
    ASSERT_GT(second, 0);
    bytes[second + 2] = 'X';
    file.seek(0);
    file.write(bytes);
    file.close();
    failure = UpdatePackage::extract(archive(), extracted());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, Kind::Archive);

    QFile::remove(archive());
    QFile garbage(archive());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a zip at all");
    garbage.close();
    EXPECT_TRUE(UpdatePackage::extract(archive(), extracted()));

    QDir(extracted()).removeRecursively();
    QDir().mkpath(extracted());
    ASSERT_EQ(extract({ZipEntry::file("Quillvex.dmg", "disk image"), ZipEntry::file("Quillvex.pkg", "installer")}), std::nullopt);
    UpdatePackage::Failure notFound;
    EXPECT_FALSE(UpdatePackage::findApplication(extracted(), &notFound));
    EXPECT_EQ(notFound.kind, Kind::NotFound);
}

TEST_F(PackageTest, ABundleMustBeARealFolderWhoseLinksStayInside) {
    // A symlinked bundle: the link is inside the tree, so extraction passes, but it is no bundle.
    ASSERT_EQ(extract({ZipEntry::folder("Real/"), ZipEntry::file("Real/Contents/Info.plist", "x"), ZipEntry::link("Quillvex.app", "Real")}),
              std::nullopt);
    UpdatePackage::Failure failure;
    EXPECT_FALSE(UpdatePackage::findApplication(extracted(), &failure));
    EXPECT_EQ(failure.kind, Kind::Archive);
    EXPECT_EQ(failure.detail, "refused bundle \"Quillvex.app\": it is not a folder");

    // A link from the bundle to a sibling would dangle once the bundle is copied alone.
    QDir(extracted()).removeRecursively();
    QDir().mkpath(extracted());
    std::vector<ZipEntry> entries = bundleEntries("Quillvex.app");
    entries.push_back(ZipEntry::file("shared/lib.so", "lib"));
    entries.push_back(ZipEntry::link("Quillvex.app/Contents/lib.so", "../../shared/lib.so"));
    ASSERT_EQ(extract(entries), std::nullopt);
    EXPECT_FALSE(UpdatePackage::findApplication(extracted(), &failure));
    EXPECT_EQ(failure.kind, Kind::Archive);
    EXPECT_TRUE(failure.detail.startsWith("refused link \"Contents/lib.so\"")) << failure.detail.toStdString();
}

}  // namespace
