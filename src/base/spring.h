#pragma once
// A value that moves toward a target with a velocity; the scroll position and the slide
// fractions of the sidebar, the Jam bar and the banner are springs.
struct Spring {
    float value;
    float velocity;
};

// One animation frame of a critically damped spring with stiffness k over dt seconds.
// Returns 1 while the spring still moves; once it is within eps of the target (and slow),
// it is snapped there and 0 is returned.
int spring_step(Spring* s, float target, float k, float dt, float eps);
