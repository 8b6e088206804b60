#include "sessions/ColorizationAdapters.h"

#include <stdexcept>

#include "sessions/QpcFile.h"
#include "sessions/SessionFileIo.h"

namespace orbel::studio {

std::shared_ptr<CameraData> ToThreeChannels(std::shared_ptr<CameraData> image) {
    if (!image) return nullptr;
    const uint32_t channels = image->channels;
    const size_t pixels = size_t{image->width} * image->height;
    if (channels == 3 && image->format == 2) return image;
    if (channels < 1 || channels > 4 || image->bitsPerChannel != 8 || image->pixels.size() < pixels * channels) {
        return nullptr;
    }
    auto rgb = std::make_shared<CameraData>(*image);
    rgb->pixels.resize(pixels * 3);
    const uint8_t* in = image->pixels.data();
    uint8_t* out = rgb->pixels.data();
    for (size_t p = 0; p < pixels; ++p, in += channels, out += 3) {
        if (channels < 3) {
            out[0] = out[1] = out[2] = in[0];
        } else {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    rgb->channels = 3;
    rgb->byteSize = rgb->pixels.size();
    rgb->format = 2;
    return rgb;
}

ImageAdapter::ImageAdapter(std::shared_ptr<CameraData> image) : image_(std::move(image)) {
    metadata_.deviceTimestamp_us = image_->deviceTimestamp_us;
    metadata_.hostTimestamp_us = 0;
    metadata_.frameId = image_->imageFrameNumber;
    metadata_.width = image_->width;
    metadata_.height = image_->height;
    metadata_.format = image_->format == 2 ? orbel::sdk::PixelFormat::RGB8 : orbel::sdk::PixelFormat::Unknown;
}

std::vector<uint8_t> ImageAdapter::Serialize() const {
    throw std::logic_error("ImageAdapter::Serialize not implemented");
}
void ImageAdapter::Deserialize(const uint8_t*, size_t) {
    throw std::logic_error("ImageAdapter::Deserialize not implemented");
}
void ImageAdapter::Deserialize(const std::vector<uint8_t>&) {
    throw std::logic_error("ImageAdapter::Deserialize not implemented");
}
void ImageAdapter::SaveAsJpeg(const std::filesystem::path&, int, bool) const {
    throw std::logic_error("ImageAdapter::SaveAsJpeg not implemented");
}

void FrameDataColorizable::_Split() {
    if (split_) return;
    const size_t points = GetPointCount();  // a trailing incomplete triple is dropped
    x_.resize(points);
    y_.resize(points);
    z_.resize(points);
    for (size_t i = 0; i < points; ++i) {
        x_[i] = frame_->xyz[3 * i];
        y_[i] = frame_->xyz[3 * i + 1];
        z_[i] = frame_->xyz[3 * i + 2];
    }
    split_ = true;
}

const std::vector<float>& FrameDataColorizable::GetX() {
    _Split();
    return x_;
}
const std::vector<float>& FrameDataColorizable::GetY() {
    _Split();
    return y_;
}
const std::vector<float>& FrameDataColorizable::GetZ() {
    _Split();
    return z_;
}

uint64_t FrameDataColorizable::GetTimestamp() const {
    return frame_->timestamps.empty() ? 0 : frame_->timestamps.front();
}

void FrameDataColorizable::SetColors(const std::vector<orbel::sdk::RGB>& colors) {
    if (colors.size() != GetPointCount()) throw std::runtime_error("Color count does not match number of points");
    frame_->rgb.resize(colors.size() * 3);
    for (size_t i = 0; i < colors.size(); ++i) {
        frame_->rgb[3 * i] = colors[i].r;
        frame_->rgb[3 * i + 1] = colors[i].g;
        frame_->rgb[3 * i + 2] = colors[i].b;
    }
}

std::unique_ptr<QpcFrameColorizable> QpcFrameColorizable::Read(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    ReadQpcFile(path, bytes);
    std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> lines;
    for (const std::span<const uint8_t> line : SplitQpcLines(bytes)) {
        auto cloud = orbel::sdk::CreatePointCloud();
        cloud->Deserialize(line.data(), line.size());
        lines.push_back(std::move(cloud));
    }
    return std::make_unique<QpcFrameColorizable>(std::move(lines));
}

QpcFrameColorizable::QpcFrameColorizable(std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> lines)
    : lines_(std::move(lines)) {
    if (lines_.empty()) throw std::runtime_error("A QPC frame needs at least one line");
    for (const auto& line : lines_) pointCount_ += line->GetPointCount();
}

void QpcFrameColorizable::_Join() {
    if (joined_) return;
    x_.reserve(pointCount_);
    y_.reserve(pointCount_);
    z_.reserve(pointCount_);
    for (const auto& line : lines_) {
        const auto& x = line->GetX();
        const auto& y = line->GetY();
        const auto& z = line->GetZ();
        x_.insert(x_.end(), x.begin(), x.end());
        y_.insert(y_.end(), y.begin(), y.end());
        z_.insert(z_.end(), z.begin(), z.end());
    }
    joined_ = true;
}

const std::vector<float>& QpcFrameColorizable::GetX() {
    _Join();
    return x_;
}
const std::vector<float>& QpcFrameColorizable::GetY() {
    _Join();
    return y_;
}
const std::vector<float>& QpcFrameColorizable::GetZ() {
    _Join();
    return z_;
}

uint64_t QpcFrameColorizable::GetTimestamp() const { return lines_.front()->GetTimestamp(); }
uint64_t QpcFrameColorizable::GetAlternateTimestamp() const { return lines_.front()->GetAlternateTimestamp(); }
uint32_t QpcFrameColorizable::FrameNumber() const { return lines_.front()->GetMetadata().frameNumber; }

void QpcFrameColorizable::SetColors(const std::vector<orbel::sdk::RGB>& colors) {
    if (colors.size() != pointCount_) throw std::runtime_error("Color count does not match number of points");
    size_t first = 0;
    std::vector<orbel::sdk::RGB> slice;
    for (const auto& line : lines_) {
        const size_t n = line->GetPointCount();
        slice.assign(colors.begin() + static_cast<std::ptrdiff_t>(first),
                     colors.begin() + static_cast<std::ptrdiff_t>(first + n));
        line->SetColors(slice);
        first += n;
    }
}

}  // namespace orbel::studio
