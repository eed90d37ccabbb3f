#include "Settings.h"

#include "AtomicFile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

Settings* g_pInstance = nullptr;

const char* const kOrganisation = "Fennory";
const char* const kApplication = "Tamberlo";
const char* const kFileName = "settings.xml";
const qint64 kMaxFileBytes = 1024 * 1024;

// XML 1.0 (fifth edition) NameStartChar.
bool isNameStartChar(uint c)
{
    return c == ':' || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint c)
{
    return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

} // namespace

Settings* Settings::instance()
{
    // Deliberately never deleted: other objects may still read settings while
    // the process winds down.
    if (!g_pInstance) {
        g_pInstance = new Settings();
        g_pInstance->load();
    }
    return g_pInstance;
}

void Settings::resetInstanceForTests()
{
    delete g_pInstance;
    g_pInstance = nullptr;
}

Settings::Settings() : m_directory(dataLocation()) {}

Settings::~Settings()
{
    save();
}

QString Settings::dataLocation()
{
    // The location depends on the names held by the application object. The
    // application sets them at start-up, but anything that reads a setting
    // earlier (or a tool or test that never names itself) would otherwise load
    // from one directory and save to another. Ask with our own names and put
    // back whatever the caller had.
    const QString organisation = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    const bool rename = organisation != kOrganisation || application != kApplication;
    if (rename) {
        QCoreApplication::setOrganizationName(kOrganisation);
        QCoreApplication::setApplicationName(kApplication);
    }
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (rename) {
        QCoreApplication::setOrganizationName(organisation);
        QCoreApplication::setApplicationName(application);
    }
    return location;
}

QString Settings::getFilePath() const
{
    return QString("%1/%2").arg(m_directory, kFileName);
}

bool Settings::isValidKey(const QString& key)
{
    // Decoded by hand: toUcs4() would turn a lone surrogate into U+FFFD, which
    // is a name character, and the key would come back changed from the file.
    bool first = true;
    for (int i = 0; i < key.size(); ++i) {
        uint c = key.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= key.size() || !key.at(i + 1).isLowSurrogate())
                return false;
            c = QChar::surrogateToUcs4(key.at(i), key.at(i + 1));
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
        if (first ? !isNameStartChar(c) : !isNameChar(c))
            return false;
        first = false;
    }
    return !first;
}

QString Settings::getSetting(const QString& key) const
{
    return m_settings.value(key);
}

namespace {

template <typename T> T clampLogged(const QString& key, T value, T minimum, T maximum)
{
    const T clamped = std::clamp(value, minimum, maximum);
    if (clamped != value)
        qDebug() << "Setting" << key << "of" << value << "is outside" << minimum << "to" << maximum
                 << "- using" << clamped;
    return clamped;
}

} // namespace

int Settings::getIntSetting(const QString& key, int fallback, int minimum, int maximum) const
{
    bool ok = false;
    const qlonglong value = getSetting(key).trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    return static_cast<int>(clampLogged<qlonglong>(key, value, minimum, maximum));
}

double Settings::getDoubleSetting(const QString& key, double fallback, double minimum,
                                  double maximum) const
{
    bool ok = false;
    const double value = getSetting(key).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return fallback;
    return clampLogged(key, value, minimum, maximum);
}

int Settings::getAudioBufferSize() const
{
    const QString key = QStringLiteral("AudioDeviceBufferSize");
    // No number above 0 is no size at all. Otherwise whole frames of two
    // samples: PortAudio's ALSA code divides by the frames per period and
    // fails on one, and a size in the billions would be allocated.
    if (getIntSetting(key, 0, INT_MIN, INT_MAX) <= 0)
        return kDefaultAudioBufferSize;
    return getIntSetting(key, kDefaultAudioBufferSize, kMinAudioBufferSize, kMaxAudioBufferSize) &
           ~1;
}

void Settings::setSetting(const QString& key, const QString& value)
{
    if (!isValidKey(key)) {
        qDebug() << "Refusing setting with a key that is not an XML name:" << key;
        return;
    }
    m_settings.insert(key, value);
}

void Settings::load()
{
    const QString path = getFilePath();
    QDomDocument document(QStringLiteral("settings"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        createDefaults();
        return;
    }
    QString error;
    int line = 0;
    int column = 0;
    // Ours holds a few short lines; parsing a file of gigabytes would take
    // the memory with it.
    if (file.size() > kMaxFileBytes)
        error = QStringLiteral("the file is far larger than settings ever are");
    if (!error.isEmpty() || !document.setContent(&file, &error, &line, &column)) {
        file.close();
        qDebug() << "Unreadable settings file" << path << error << "at line" << line << "column"
                 << column;
        // The file is about to be replaced by an empty one. It may be a user's
        // hand edit with one typo in it, so keep it beside the new one.
        const QString keep = path + ".corrupt";
        QFile::remove(keep);
        if (QFile::copy(path, keep))
            qDebug() << "Kept unreadable settings as" << keep;
        else
            qDebug() << "Could not keep unreadable settings as" << keep;
        createDefaults();
        return;
    }
    file.close();

    const QDomElement root = document.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        m_settings.insert(element.tagName(), element.text());
    }
}

void Settings::createDefaults()
{
    qDebug() << "Creating default settings";
    save();
}

bool Settings::save()
{
    QDir().mkpath(m_directory);
    const QString path = getFilePath();
    qDebug() << "Saving settings" << path;

    QDomDocument document(QStringLiteral("settings"));
    QDomElement root = document.createElement(QStringLiteral("settings"));
    document.appendChild(root);
    for (auto it = m_settings.constBegin(); it != m_settings.constEnd(); ++it) {
        QDomElement element = document.createElement(it.key());
        if (!it.value().isEmpty())
            element.appendChild(document.createTextNode(it.value()));
        root.appendChild(element);
    }
    // A crash or a full disk leaves the previous settings.xml as it was.
    if (AtomicFile::write(path, document.toByteArray(1)))
        return true;
    qDebug() << "Failed to write settings.xml" << __FILE__ << __LINE__;
    return false;
}
