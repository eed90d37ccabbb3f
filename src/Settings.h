#pragma once

#include <QMap>
#include <QString>

// The program's persistent preferences: text keys to text values, loaded from
// settings.xml on first use and written back at shutdown. Used from the
// user-interface thread only, so it has no lock.
class Settings
{
public:
    // The single instance; the first call creates it and loads the file.
    static Settings* instance();

    // The range of "AudioDeviceBufferSize" (samples of both channels), as the
    // preferences offer it, and the value used when it holds no number above 0.
    static constexpr int kMinAudioBufferSize = 32;
    static constexpr int kMaxAudioBufferSize = 4096;
    static constexpr int kDefaultAudioBufferSize = 2048;

    // The stored value, or a null string when the key is absent. Never inserts.
    QString getSetting(const QString& key) const;
    // Numbers are read through these, so that no edited file can hand a reader
    // a value it cannot use. fallback when the value is missing or not a
    // (finite) number; a number outside minimum .. maximum is clamped to it,
    // with a log line naming key and value.
    int getIntSetting(const QString& key, int fallback, int minimum, int maximum) const;
    double getDoubleSetting(const QString& key, double fallback, double minimum,
                            double maximum) const;
    // "AudioDeviceBufferSize": an even count within the preferences' range;
    // kDefaultAudioBufferSize when it holds no number above 0.
    int getAudioBufferSize() const;
    // Replaces the value of key in memory; the file is written by save(). A key
    // that is not a valid XML name is refused (logged), since the file could not
    // hold it.
    void setSetting(const QString& key, const QString& value);
    // Writes the whole store to settings.xml; false (and logged) when it could not.
    bool save();

    // Full path of settings.xml, fixed when the instance was created.
    QString getFilePath() const;

    // True for the keys the file can hold as element names.
    static bool isValidKey(const QString& key);

    // Tests only: destroys the instance (which saves, as at shutdown) so that the
    // next instance() finds the data location anew and loads the file again.
    static void resetInstanceForTests();

    ~Settings();

private:
    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    void load();
    void createDefaults();

    static QString dataLocation();

    QMap<QString, QString> m_settings;
    QString m_directory;
};
