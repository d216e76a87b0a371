// The tasks that make the character models the mods choose: HD Models+ and
// Body Sculpting. Each rewrites the game's configuration when it is done.
#pragma once

struct Task;

// The task "HD Models+": builds the chosen models of every character with
// the mod's tool from the game's original models into "hdmodels/out", then
// turns hd_models_on on.
void hdm_apply_task(Task& t);
// The task "Body Sculpting": makes the sculpted models of every row whose
// sliders are not all unchanged into "sculpt/out", then turns sculpt_on on.
void sculpt_apply_task(Task& t);
