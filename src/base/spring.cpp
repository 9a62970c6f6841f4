#include "base/spring.h"

#include <math.h>

static int settled(const Spring* s, float target, float eps) {
    return fabsf(s->value - target) <= eps && fabsf(s->velocity) <= 4 * eps;
}

int spring_step(Spring* s, float target, float k, float dt, float eps) {
    if (!settled(s, target, eps)) {
        // Four sub-steps keep the explicit integration stable at the stiffness used.
        float h = dt / 4;
        for (int i = 0; i < 4; i++) {
            s->velocity += h * (-k * k * (s->value - target) - 2 * k * s->velocity);
            s->value += h * s->velocity;
        }
        if (!settled(s, target, eps)) return 1;
    }
    s->value = target;
    s->velocity = 0;
    return 0;
}
