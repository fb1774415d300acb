#pragma once
// Where the demo's 16:9 picture sits in a frame of any shape, and how much
// larger than the 640 x 360 it was made for it is drawn. A frame of another
// shape gets black bars: above and below (letterbox) or left and right
// (pillarbox), the picture centred.

namespace lumo {

struct PictureLayout {
    static constexpr int kBaseWidth = 640, kBaseHeight = 360;

    int frameWidth = kBaseWidth, frameHeight = kBaseHeight;
    int left = 0, top = 0;                        // the picture's place in the frame
    int width = kBaseWidth, height = kBaseHeight; // the picture
    double scale = 1.0;                           // height / 360

    // A length or position of the 640 x 360 picture in this picture's pixels,
    // rounded to the nearest and saturated to a range no picture comes near.
    int scaled(double base) const;
};

// The largest 16:9 picture inside the frame (rounded to whole pixels, never
// larger than the frame), centred.
PictureLayout layoutPicture(int frameWidth, int frameHeight);

} // namespace lumo
