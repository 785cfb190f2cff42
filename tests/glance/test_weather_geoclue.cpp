// The weather service against real stand-ins: GeoClue2's mock on a private system bus and a
// loopback HTTP server, through the network client the application uses.

#include "glance/weather_service.h"

#include "platform/http/qt_http_client.h"
#include "platform/location/geoclue_location_manager.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"

#include <QDBusObjectPath>
#include <QTcpServer>

namespace {

using platform::GeoClueLocationManager;
using platform::LocationAuthorizationStatus;
using testsupport::DBusMock;
using testsupport::PrivateBus;
using testsupport::spinUntil;

const QString geoclue = QStringLiteral("org.freedesktop.GeoClue2");
const QString managerPath = QStringLiteral("/org/freedesktop/GeoClue2/Manager");
const QString clientInterface = QStringLiteral("org.freedesktop.GeoClue2.Client");
const QByteArray forecast = R"({"latitude":35.7,"longitude":139.7,"utc_offset_seconds":32400,
    "current_weather":{"temperature":12.4,"weathercode":1,"is_day":1},
    "hourly":{"time":["2020-01-01T00:00"],"temperature_2m":[1],"weathercode":[0]}})";

class WeatherGeoClueTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::dbusmockAvailable()) return;
        systemBus = PrivateBus::start(PrivateBus::Kind::system, &setUpError).release();
        if (!systemBus) return;
        mock = DBusMock::startTemplate(*systemBus, QStringLiteral(QUILLVEX_TEST_SUPPORT_DIR "/geoclue2_template.py"),
                                       geoclue, managerPath, {}, &setUpError)
                   .release();
    }
    static void TearDownTestSuite() {
        delete mock;
        delete systemBus;
        mock = nullptr;
        systemBus = nullptr;
    }
    void SetUp() override {
        if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
        ASSERT_TRUE(mock) << "the GeoClue2 mock did not come up: " << setUpError.toStdString();
        ASSERT_TRUE(mock->call(QStringLiteral("SetAuthorized"), {true}).ok());
    }

    static bool setLocation(double latitude, double longitude) {
        return mock->call(QStringLiteral("SetLocation"), {latitude, longitude, 1000.0}).ok();
    }
    static QVariant clientProperty(int client, const QString& name) {
        return systemBus->connection()
            .property(geoclue, QStringLiteral("/org/freedesktop/GeoClue2/Client/%1").arg(client), clientInterface, name,
                      std::chrono::seconds(5))
            .value();
    }
    // How many clients the mock handed out so far.
    static int clientCount() {
        int n = 0;
        while (clientProperty(n + 1, QStringLiteral("DesktopId")).isValid()) ++n;
        return n;
    }

    static PrivateBus* systemBus;
    static DBusMock* mock;
    static QString setUpError;
};

PrivateBus* WeatherGeoClueTest::systemBus = nullptr;
DBusMock* WeatherGeoClueTest::mock = nullptr;
QString WeatherGeoClueTest::setUpError;

TEST_F(WeatherGeoClueTest, LocationsArriveFromAStartedClientAtCityAccuracyUntilStopped) {
    GeoClueLocationManager manager(QStringLiteral("com.varnock.Quillvex"), &systemBus->connection());
    std::vector<platform::Location> received;
    int authorizationChanges = 0;
    manager.setDelegate({[&](const std::vector<platform::Location>& l) { received.insert(received.end(), l.begin(), l.end()); },
                         {}, [&] { ++authorizationChanges; }});
    manager.setDesiredAccuracy(1000);
    manager.requestWhenInUseAuthorization();
    manager.startUpdatingLocation();
    manager.startUpdatingLocation();
    ASSERT_TRUE(spinUntil([&] { return manager.authorizationStatus() == LocationAuthorizationStatus::authorized; }));
    EXPECT_EQ(authorizationChanges, 1);
    const int client = clientCount();
    EXPECT_EQ(clientProperty(client, QStringLiteral("DesktopId")).toString(), "com.varnock.Quillvex");
    EXPECT_EQ(clientProperty(client, QStringLiteral("RequestedAccuracyLevel")).toUInt(), 4u);
    EXPECT_TRUE(clientProperty(client, QStringLiteral("Active")).toBool());

    ASSERT_TRUE(setLocation(35.6895, 139.69171));
    ASSERT_TRUE(spinUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].latitude, 35.6895);
    EXPECT_EQ(received[0].longitude, 139.69171);

    manager.stopUpdatingLocation();
    ASSERT_TRUE(spinUntil([&] { return !clientProperty(client, QStringLiteral("Active")).toBool(); }));
    // Started again, the client hears of the known location at once.
    manager.startUpdatingLocation();
    ASSERT_TRUE(spinUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(clientCount(), client);  // one client for the manager's life
    manager.stopUpdatingLocation();
}

TEST_F(WeatherGeoClueTest, RefusalReadsAsDeniedAndNoServiceAsRestricted) {
    ASSERT_TRUE(mock->call(QStringLiteral("SetAuthorized"), {false}).ok());
    GeoClueLocationManager refused(QStringLiteral("com.varnock.Quillvex"), &systemBus->connection());
    refused.startUpdatingLocation();
    EXPECT_TRUE(spinUntil([&] { return refused.authorizationStatus() == LocationAuthorizationStatus::denied; }));

    QString error;
    auto emptyBus = PrivateBus::start(PrivateBus::Kind::system, &error);
    ASSERT_TRUE(emptyBus) << error.toStdString();
    GeoClueLocationManager nothing(QStringLiteral("com.varnock.Quillvex"), &emptyBus->connection());
    nothing.requestWhenInUseAuthorization();
    EXPECT_TRUE(spinUntil([&] { return nothing.authorizationStatus() == LocationAuthorizationStatus::restricted; }));
}

TEST_F(WeatherGeoClueTest, EndToEndFromTheFirstLocationToTheWeatherOnTheBus) {
    int status = 200;
    QByteArray body = forecast;
    testsupport::LoopbackHttpServer server([&](const QString&) { return testsupport::LoopbackHttpServer::status(status, body); });
    ASSERT_TRUE(server.isListening());
    platform::QtHttpClient http(platform::HttpSecurity{true, {}});
    EventBus bus(scheduler());
    GeoClueLocationManager location(QStringLiteral("com.varnock.Quillvex"), &systemBus->connection());
    WeatherService service(&location, http, bus, scheduler(), QUrl(server.url(QString())));
    const auto published = [&] {
        scheduler().drain();
        return bus.weatherInfoSubject.value().has_value();
    };

    ASSERT_TRUE(setLocation(35.6895, 139.69171));
    service.start();
    ASSERT_TRUE(spinUntil(published));
    EXPECT_TRUE(log.contains("WeatherService: Location authorized"));
    EXPECT_TRUE(log.contains("WeatherService: Location updated (35.6895, 139.69171)"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0], "/v1/forecast?latitude=35.6895&longitude=139.69171&current_weather=true"
                                    "&hourly=temperature_2m,weathercode&timezone=auto&forecast_hours=4");
    EXPECT_EQ(bus.weatherInfoSubject.value()->temperature, 12.4);
    EXPECT_TRUE(bus.weatherInfoSubject.value()->hourlyForecast.isEmpty());  // 2020 is past
    EXPECT_TRUE(log.contains("WeatherService: Updated weather - 12.4°C, Mainly clear"));

    // An error reply is decoded, fails, and the cache goes out again.
    status = 400;
    body = R"({"error":true,"reason":"Parameter 'forecast_hours' is out of range"})";
    bus.weatherInfoSubject.send(std::nullopt);
    scheduler().advance(900);
    ASSERT_TRUE(spinUntil(published));
    EXPECT_TRUE(log.contains("WeatherService: Decode error - The data couldn’t be read because it is missing."));
    EXPECT_EQ(bus.weatherInfoSubject.value()->temperature, 12.4);
    service.stop();

    // Nobody listening: a transfer error.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    WeatherService refused(&location, http, bus, scheduler(),
                           QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    refused.start();
    ASSERT_TRUE(spinUntil([&] { return !log.matching("WeatherService: Network error - ").isEmpty(); }));
    EXPECT_EQ(log.matching("WeatherService: Network error - ").front(), "WeatherService: Network error - Connection refused");
    refused.stop();
}

}  // namespace
