#include "glance/weather_service.h"

#include "core/format.h"
#include "core/log.h"
#include "platform/location/geoclue_location_manager.h"

#include <QTimeZone>

namespace {

// The name GeoClue's agent shows the user and keys its permissions by.
const QString desktopId = QStringLiteral("com.varnock.Quillvex");

platform::LocationManager* ownOrGiven(platform::LocationManager* given,
                                      std::unique_ptr<platform::LocationManager>& own) {
    if (given) return given;
    own = std::make_unique<platform::GeoClueLocationManager>(desktopId);
    return own.get();
}

QString coordinates(double latitude, double longitude) {
    return QStringLiteral("(") + format::number(latitude) + QStringLiteral(", ") + format::number(longitude) +
           QStringLiteral(")");
}

}  // namespace

WeatherService& WeatherService::shared() {
    static WeatherService* service = new WeatherService();  // never destroyed, like the process's other services
    return *service;
}

QUrl WeatherService::defaultForecastBase() { return QUrl(QStringLiteral("https://api.open-meteo.com")); }

WeatherService::WeatherService(platform::LocationManager* location, platform::HttpClient& http, EventBus& bus,
                               platform::Scheduler& scheduler, QUrl forecastBase)
    : location_(*ownOrGiven(location, ownLocation_)),
      http_(http),
      bus_(bus),
      scheduler_(scheduler),
      forecastBase_(std::move(forecastBase)) {
    location_.setDelegate({
        .didUpdateLocations = lifetime_.wrap([this](const std::vector<platform::Location>& l) { didUpdateLocations(l); }),
        .didFailWithError = lifetime_.wrap([this](const platform::LocationError& e) { didFailWithError(e); }),
        .didChangeAuthorization = lifetime_.wrap([this] { didChangeAuthorization(); }),
    });
    location_.setDesiredAccuracy(1000);
}

WeatherService::~WeatherService() {
    timer_.invalidate();
    location_.setDelegate({});
}

void WeatherService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    Log::shared().info(QStringLiteral("WeatherService: Starting"));
    location_.requestWhenInUseAuthorization();
    location_.startUpdatingLocation();
    // A service already known to be missing or refusing tells nothing new by itself.
    const auto status = location_.authorizationStatus();
    publishLocationUnavailable(status == platform::LocationAuthorizationStatus::restricted ||
                               status == platform::LocationAuthorizationStatus::denied);
    timer_.invalidate();
    timer_ = scheduler_.every(refreshInterval, lifetime_.wrap([this] { fetchWeatherIfPossible(); }));
    // A panel that comes up after a restart shows the last weather instead of waiting a quarter
    // of an hour for the first tick.
    if (cachedWeather_) bus_.weatherInfoSubject.send(cachedWeather_);
}

void WeatherService::stop() {
    timer_.invalidate();
    location_.stopUpdatingLocation();
    isRunning_ = false;
    ++runGeneration_;
    publishLocationUnavailable(false);
    Log::shared().info(QStringLiteral("WeatherService: Stopped"));
}

QDateTime WeatherService::now() const {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(scheduler_.wallNow().time_since_epoch()).count(),
        Qt::UTC);
}

void WeatherService::didUpdateLocations(const std::vector<platform::Location>& locations) {
    if (locations.empty()) return;
    const platform::Location newest = locations.back();
    if (lastLocation_) {
        const double distance = newest.distance(*lastLocation_);
        lastLocation_ = newest;
        // Not a number counts as no move, as exactly the threshold does.
        if (!(distance > moveThreshold)) {
            location_.stopUpdatingLocation();
            return;
        }
    } else {
        lastLocation_ = newest;
        publishLocationUnavailable(false);
    }
    Log::shared().debug(QStringLiteral("WeatherService: Location updated ") +
                        coordinates(newest.latitude, newest.longitude));
    fetchWeather(newest.latitude, newest.longitude);
    location_.stopUpdatingLocation();
}

void WeatherService::didFailWithError(const platform::LocationError& error) {
    Log::shared().error(QStringLiteral("WeatherService: Location error - ") + error.description);
    if (cachedWeather_) bus_.weatherInfoSubject.send(cachedWeather_);
    publishLocationUnavailable(true);
}

void WeatherService::didChangeAuthorization() {
    switch (location_.authorizationStatus()) {
    case platform::LocationAuthorizationStatus::notDetermined:
        Log::shared().debug(QStringLiteral("WeatherService: Location authorization not determined"));
        break;
    case platform::LocationAuthorizationStatus::restricted:
    case platform::LocationAuthorizationStatus::denied:
        Log::shared().error(QStringLiteral("WeatherService: Location access denied"));
        publishLocationUnavailable(true);
        break;
    case platform::LocationAuthorizationStatus::authorized:
        Log::shared().info(QStringLiteral("WeatherService: Location authorized"));
        location_.startUpdatingLocation();
        publishLocationUnavailable(false);
        break;
    }
}

void WeatherService::publishLocationUnavailable(bool noLocationCanCome) {
    // A known location still brings forecasts; a stopped service promises nothing.
    const bool unavailable = isRunning_ && noLocationCanCome && !lastLocation_;
    if (bus_.weatherLocationUnavailableSubject.value() != unavailable) bus_.weatherLocationUnavailableSubject.send(unavailable);
}

void WeatherService::fetchWeatherIfPossible() {
    if (lastLocation_) {
        fetchWeather(lastLocation_->latitude, lastLocation_->longitude);
        return;
    }
    Log::shared().debug(QStringLiteral("WeatherService: No location available, using cached data"));
    if (cachedWeather_) bus_.weatherInfoSubject.send(cachedWeather_);
}

void WeatherService::fetchWeather(double latitude, double longitude) {
    const QUrl url = OpenMeteoForecast::requestUrl(forecastBase_, latitude, longitude);
    if (url.isEmpty()) {
        Log::shared().error(QStringLiteral("WeatherService: Failed to build URL"));
        return;
    }
    Log::shared().debug(QStringLiteral("WeatherService: Fetching weather for ") + coordinates(latitude, longitude));
    platform::HttpRequest request;
    request.url = url;
    request.timeoutSeconds = requestTimeout;
    // A server that keeps sending a byte now and then never trips the idle timeout.
    request.deadlineSeconds = requestTimeout;
    const uint64_t generation = runGeneration_;
    http_.get(request, lifetime_.wrap([this, generation](platform::HttpResult result) {
        // A reply to a request of an earlier run must not publish after the user turned weather off.
        if (generation != runGeneration_) return;
        handleReply(result);
    }));
}

void WeatherService::resendCachedWeather() {
    const uint64_t generation = runGeneration_;
    scheduler_.post(lifetime_.wrap([this, generation] {
        if (generation == runGeneration_ && cachedWeather_) bus_.weatherInfoSubject.send(cachedWeather_);
    }));
}

WeatherInfo WeatherService::weatherInfo(const OpenMeteoResponse& response, const QDateTime& now) {
    const bool isNight = response.current_weather.is_day == 0;
    const int code = response.current_weather.weathercode;
    return WeatherInfo{response.current_weather.temperature, code, weatherDescription(code),
                       weatherIconName(code, isNight),
                       buildHourlyForecast(response.hourly, isNight, now, response.utc_offset_seconds)};
}

void WeatherService::handleReply(const platform::HttpResult& result) {
    // Only a transfer that failed is a network error: a reply with any status has a body to decode.
    const QByteArray* body = nullptr;
    if (result.response) {
        body = &result.response->body;
    } else if (result.error && result.error->kind == platform::HttpError::Kind::Status) {
        body = &result.error->body;
    } else if (result.error) {
        Log::shared().error(QStringLiteral("WeatherService: Network error - ") + result.error->description);
        resendCachedWeather();
        return;
    }
    if (!body) {
        Log::shared().error(QStringLiteral("WeatherService: No data received"));
        return;
    }
    // A reply may be large or hostile (deeply nested arrays): it is decoded on a worker, and only
    // the decoded forecast comes back to the main thread, which builds and publishes the record.
    const uint64_t generation = runGeneration_;
    auto decodedOnWorker = lifetime_.wrap([this, generation](std::variant<OpenMeteoResponse, OpenMeteoResponse::DecodeError> decoded) {
        // Weather turned off meanwhile: nothing of this reply is shown or logged.
        if (generation != runGeneration_) return;
        if (auto* error = std::get_if<OpenMeteoResponse::DecodeError>(&decoded)) {
            Log::shared().error(QStringLiteral("WeatherService: Decode error - ") + error->description);
            resendCachedWeather();
            return;
        }
        WeatherInfo weather = weatherInfo(std::get<OpenMeteoResponse>(decoded), now());
        cachedWeather_ = weather;
        bus_.weatherInfoSubject.send(cachedWeather_);
        Log::shared().debug(QStringLiteral("WeatherService: Updated weather - ") + format::number(weather.temperature) +
                            QStringLiteral("°C, ") + weather.conditionDescription);
    });
    scheduler_.global([&scheduler = scheduler_, bytes = *body, decodedOnWorker]() mutable {
        auto decoded = OpenMeteoResponse::decode(bytes);
        scheduler.post([decodedOnWorker, decoded = std::move(decoded)]() mutable { decodedOnWorker(std::move(decoded)); });
    });
}
