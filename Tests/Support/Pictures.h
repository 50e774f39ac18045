#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <filesystem>

// How light a picture is on the whole, 0 (black) to 255 (white), from every seventh pixel: enough
// to tell a light window from a dark one.
inline double averageLightness(const std::filesystem::path& file) {
    const QImage image(QString::fromStdString(file.string()));
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            sum += QColor(image.pixel(x, y)).lightness();
            ++count;
        }
    }
    return count ? sum / count : 0;
}

// The share of pixels lighter than `lightness` (0 to 255): the text on a dark picture.
inline double shareLighterThan(const std::filesystem::path& file, int lightness) {
    const QImage image(QString::fromStdString(file.string()));
    int lighter = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            lighter += QColor(image.pixel(x, y)).lightness() > lightness ? 1 : 0;
        }
    }
    return image.isNull() ? 0 : static_cast<double>(lighter) / (image.width() * image.height());
}
