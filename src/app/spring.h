#pragma once
// A value that moves toward a target with a velocity; the scroll position and the slide
// fractions of the sidebar, the Jam bar and the banner are springs.
struct Spring {
    float value;
    float velocity;
};
