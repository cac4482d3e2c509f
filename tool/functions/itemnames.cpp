#include "itemnames.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "textdistance.h"

#include "trlevel.h"

namespace qm {

namespace {

// The object types of the five games by type id, as the public format
// documentation of the level files lists them, written as names a modder can
// type (words joined by "_"). Each entry names one id, in id order, except:
//   "Door_#8"                 eight ids: Door_1 .. Door_8 (a "#" and a count
//                             number the ids; several "#" nest, the first outermost)
//   "Sas+mip"                 two ids: Sas, Sas_mip (the model and its distant form)
//   ""                        an id the documentation leaves unnamed
// "_inventory" names the model an inventory ring shows; "_display" a model only
// shown in menus.
constexpr const char* Tr1Names[] = {
    /*   0 */ "Lara", "Lara_pistol_animation", "Lara_shotgun_animation", "Lara_magnum_animation", "Lara_uzi_animation",
    /*   5 */ "Lara_misc_animation", "Doppelganger", "Wolf", "Bear", "Bat", "Crocodile_land", "Crocodile_water", "Lion",
    /*  13 */ "Lioness", "Panther", "Gorilla", "Rat_land", "Rat_water", "T_rex", "Raptor", "Winged_mutant",
    /*  21 */ "Shooting_mutant", "Walking_mutant", "Centaur", "Mummy", "Dino_warrior", "Fish", "Larson", "Pierre",
    /*  29 */ "Skateboard", "Skateboard_kid", "Cowboy", "Kold", "Natla", "Torso", "Falling_block", "Swinging_blade",
    /*  37 */ "Teeth_spikes", "Rolling_ball", "Dart", "Dart_emitter", "Lifting_door", "Slamming_doors",
    /*  43 */ "Sword_of_damocles", "Thors_hammer_handle", "Thors_hammer_block", "Lightning_ball", "Barricade",
    /*  48 */ "Pushable_block_#4", "Moving_block", "Falling_ceiling_#2", "Wall_switch", "Underwater_switch", "Door_#8",
    /*  65 */ "Trapdoor_#3", "Bridge_flat", "Bridge_tilt_#2", "Passport_open", "Compass", "Home_photo", "Animating_#3",
    /*  77 */ "Cutscene_actor_#4", "Passport_closed", "Map", "Save_crystal", "Pistols", "Shotgun", "Magnums", "Uzis",
    /*  88 */ "Pistol_ammo", "Shotgun_ammo", "Magnum_ammo", "Uzi_ammo", "Explosive", "Small_medipack", "Large_medipack",
    /*  95 */ "Sunglasses", "Cassette_player", "Direction_keys", "Flashlight", "Pistols_inventory", "Shotgun_inventory",
    /* 101 */ "Magnums_inventory", "Uzis_inventory", "Pistol_ammo_inventory", "Shotgun_ammo_inventory",
    /* 105 */ "Magnum_ammo_inventory", "Uzi_ammo_inventory", "Explosive_inventory", "Small_medipack_inventory",
    /* 109 */ "Large_medipack_inventory", "Puzzle_#4", "Puzzle_#4_inventory", "Puzzle_hole_#4", "Puzzle_done_#4",
    /* 126 */ "Lead_bar", "Lead_bar_inventory", "Midas_hand", "Key_#4", "Key_#4_inventory", "Keyhole_#4", "Quest_#2",
    /* 143 */ "Scion_#4", "Scion_holder", "Quest_#2_inventory", "Scion_inventory", "Explosion_#2", "Water_ripples_#2",
    /* 155 */ "Bubbles_#2", "Bubble_emitter", "Blood_#2", "Dart_effect", "Centaur_statue", "Natlas_mine_shack",
    /* 163 */ "Mutant_egg", "Ricochet", "Sparkles", "Gun_flash", "Dust", "Body_part", "Camera_target", "Waterfall_mist",
    /* 171 */ "Missile_#5", "Lava_particles", "Lava_emitter", "Flame", "Flame_emitter", "Flowing_lava", "Big_mutant_egg",
    /* 182 */ "Motorboat", "Earthquake", "", "", "", "", "", "Lara_ponytail", "Font_graphics",
};

constexpr const char* Tr2Names[] = {
    /*   0 */ "Lara", "Lara_pistol_animation", "Lara_ponytail", "Lara_shotgun_animation", "Lara_automag_animation",
    /*   5 */ "Lara_uzi_animation", "Lara_m16_animation", "Lara_grenade_animation", "Lara_harpoon_animation",
    /*   9 */ "Lara_flare_animation", "Lara_snowmobile_animation", "Lara_boat_animation", "Lara_misc_animation",
    /*  13 */ "Red_snowmobile", "Boat", "Doberman", "Masked_goon_#3", "Knife_thrower", "Shotgun_goon", "Rat",
    /*  22 */ "Dragon_front", "Dragon_back", "Gondola", "Shark", "Yellow_moray_eel", "Black_moray_eel", "Barracuda",
    /*  29 */ "Scuba_diver", "Gunman_#2", "Stick_goon_#2", "Flamethrower_goon", "Jellyfish", "Spider", "Giant_spider",
    /*  38 */ "Crow", "Tiger", "Marco_bartoli", "Spear_guard", "Spear_guard_statue", "Sword_guard", "Sword_guard_statue",
    /*  45 */ "Yeti", "Bird_monster", "Eagle", "Mercenary_#3", "Black_snowmobile", "Snowmobile_driver", "Monk_long_stick",
    /*  54 */ "Monk_knife_stick", "Falling_block", "Falling_block_2", "Loose_boards", "Swinging_sandbag", "Teeth_spikes",
    /*  60 */ "Rolling_ball", "Disc", "Disc_gun", "Drawbridge", "Slamming_door", "Elevator", "Minisub",
    /*  67 */ "Pushable_block_#4", "Lava_bowl", "Breakable_window_#4", "Airplane_propeller", "Power_saw",
    /*  78 */ "Overhead_pulley_hook", "Falling_ceiling", "Rolling_spindle", "Wall_knife_blade", "Statue_knife_blade",
    /*  83 */ "Boulders", "Icicles", "Spiky_wall", "Bounce_pad", "Spiky_ceiling", "Tibetan_bell", "Boat_wake",
    /*  90 */ "Snowmobile_wake", "Snowmobile_belt", "Wheel_knob", "Small_wall_switch", "Underwater_propeller", "Air_fan",
    /*  96 */ "Swinging_box", "Mesh_swap_#3", "Ui_frame", "Rolling_drums", "Zipline_handle", "Push_button_switch",
    /* 104 */ "Wall_switch", "Underwater_switch", "Door_#5", "Lifting_door_#3", "Trapdoor_#3", "Bridge_flat",
    /* 118 */ "Bridge_tilt_#2", "Jade_secret_inventory", "Silver_secret_inventory", "Home_photo", "Cutscene_actor_#10",
    /* 133 */ "Passport_closed", "Map", "Pistols", "Shotgun", "Automags", "Uzis", "Harpoon_gun", "M16", "Grenade_launcher",
    /* 142 */ "Pistol_ammo", "Shotgun_ammo", "Automag_ammo", "Uzi_ammo", "Harpoons", "M16_ammo", "Grenades",
    /* 149 */ "Small_medipack", "Large_medipack", "Flares", "Flare", "Sunglasses", "Cd_player", "Direction_keys",
    /* 156 */ "Gamma_setting", "Pistols_inventory", "Shotgun_inventory", "Automags_inventory", "Uzis_inventory",
    /* 161 */ "Harpoon_gun_inventory", "M16_inventory", "Grenade_launcher_inventory", "Pistol_ammo_inventory",
    /* 165 */ "Shotgun_ammo_inventory", "Automag_ammo_inventory", "Uzi_ammo_inventory", "Harpoons_inventory",
    /* 169 */ "M16_ammo_inventory", "Grenades_inventory", "Small_medipack_inventory", "Large_medipack_inventory",
    /* 173 */ "Flares_inventory", "Puzzle_#4", "Puzzle_#4_inventory", "Puzzle_hole_#4", "Puzzle_done_#4", "Gold_secret",
    /* 191 */ "Jade_secret", "Stone_secret", "Key_#4", "Key_#4_inventory", "Keyhole_#4", "Quest_#2", "Quest_#2_inventory",
    /* 209 */ "Dragon_explosion_#3", "Alarm", "Dripping_water", "T_rex", "Singing_birds", "Clock_chimes", "Placeholder",
    /* 218 */ "Dragon_bones_front", "Dragon_bones_back", "Extra_fire", "Boat_bits", "Aquatic_mine", "Menu_background",
    /* 224 */ "Gray_disk", "Gong_stick", "Gong", "Detonator_box", "Helicopter", "Explosion", "Water_ripples", "Bubbles_#2",
    /* 233 */ "Blood", "Dart_effect", "Flare_sparks", "Glow", "Map_glow", "Ricochet", "Guard_sparkles", "Gun_flash",
    /* 241 */ "M16_flash", "Body_part", "Camera_target", "Waterfall_mist", "Diver_harpoon", "Fire_blast", "Thrown_knife",
    /* 248 */ "Grenade", "Harpoon", "Lava_particles", "Lava_emitter", "Flame", "Flame_emitter", "Skybox", "Font_graphics",
    /* 256 */ "Monk", "Door_bell", "Alarm_bell", "Helicopter_2", "Winston", "Course_numbers", "Lara_cutscene_position",
    /* 263 */ "Lara_shower_animation", "Dragon_explosion_emitter",
};

constexpr const char* Tr3Names[] = {
    /*   0 */ "Lara", "Lara_pistol_animation", "Lara_ponytail", "Lara_shotgun_animation", "Lara_desert_eagle_animation",
    /*   5 */ "Lara_uzi_animation", "Lara_mp5_animation", "Lara_rocket_animation", "Lara_grenade_animation",
    /*   9 */ "Lara_harpoon_animation", "Lara_flare_animation", "Lara_vehicle_animation", "Vehicle_extra",
    /*  13 */ "Lara_extra_animation", "Kayak", "Boat", "Quad_bike", "Mine_cart", "Big_gun", "Underwater_vehicle",
    /*  20 */ "Tribesman_axe", "Tribesman_dart", "Dog", "Rat", "Kill_all_triggers", "Killer_whale", "Scuba_diver", "Crow",
    /*  28 */ "Tiger", "Vulture", "Assault_course_target", "Closet_crawler_mutant", "Crocodile", "Butterfly",
    /*  34 */ "Compsognathus", "Lizard_man", "Puna", "Mercenary", "Hanging_raptor", "Rx_tech_guard", "Rx_tech_gunman",
    /*  41 */ "Antarctic_dog", "Crawler_mutant", "Willard", "Tinnos_wasp", "Tinnos_monster", "Brute_mutant",
    /*  47 */ "Wasp_respawn_point", "Raptor_respawn_point", "Willard_spider", "Rx_tech_flamethrower", "London_mercenary",
    /*  52 */ "London_mercenary_2", "Punk", "Punk_2", "Water_guard", "London_guard", "Sophia_lee", "Cleaner_robot",
    /*  59 */ "Floating_corpse", "Mp_with_stick", "Mp_with_gun", "Prisoner", "Mp_with_mp5", "Gun_turret", "Dam_guard",
    /*  66 */ "Tripwire", "Electrified_wire", "Killer_tripwire", "Cobra", "Shiva", "Monkey", "Bear_trap", "Tony_firehands",
    /*  74 */ "Ai_guard", "Ai_ambush", "Ai_patrol_1", "Ai_modify", "Ai_follow", "Ai_patrol_2", "Ai_path", "Ai_check",
    /*  82 */ "Ai_unknown", "Falling_block", "Falling_block_2", "Falling_plank", "Swinging_thing", "Teeth_spikes",
    /*  88 */ "Rolling_ball", "Giant_boulder", "Disc", "Dart_shooter", "Homing_dart_emitter", "Drawbridge",
    /*  94 */ "Skeleton_trap", "Lift", "Moving_bar", "Pushable_block_#4", "Breakable_window", "Breakable_wall",
    /* 103 */ "Smash_object_2", "Smash_object_3", "Saw", "Swinging_trap", "Falling_ceiling", "Rolling_spindle",
    /* 109 */ "Circular_blade", "Subway_train", "Wall_knife_blade", "Avalanche", "Stalactites", "Spiky_wall",
    /* 115 */ "Springboard", "Spiky_vertical_wall", "Valve_wheel", "Small_wall_switch", "Damaging_animating_#3",
    /* 122 */ "Shiva_statue", "Monkey_medipack_meshswap", "Monkey_key_meshswap", "Ui_frame", "Oil_drums",
    /* 127 */ "Zipline_handle", "Push_button_switch", "Wall_switch", "Underwater_switch", "Door_#8", "Trapdoor_#3",
    /* 142 */ "Bridge_flat", "Bridge_tilt_#2", "Passport_open", "Stopwatch", "Home_photo", "Cutscene_actor_#10",
    /* 158 */ "Passport_closed", "Map", "Pistols", "Shotgun", "Desert_eagle", "Uzis", "Harpoon_gun", "Mp5",
    /* 166 */ "Rocket_launcher", "Grenade_launcher", "Pistol_ammo", "Shotgun_ammo", "Desert_eagle_ammo", "Uzi_ammo",
    /* 172 */ "Harpoons", "Mp5_ammo", "Rockets", "Grenades", "Small_medipack", "Large_medipack", "Flares", "Flare",
    /* 180 */ "Save_crystal", "Sunglasses", "Cd_player", "Direction_keys", "Globe", "Pistols_inventory",
    /* 186 */ "Shotgun_inventory", "Desert_eagle_inventory", "Uzis_inventory", "Harpoon_gun_inventory", "Mp5_inventory",
    /* 191 */ "Rocket_launcher_inventory", "Grenade_launcher_inventory", "Pistol_ammo_inventory", "Shotgun_ammo_inventory",
    /* 195 */ "Desert_eagle_ammo_inventory", "Uzi_ammo_inventory", "Harpoons_inventory", "Mp5_ammo_inventory",
    /* 199 */ "Rockets_inventory", "Grenades_inventory", "Small_medipack_inventory", "Large_medipack_inventory",
    /* 203 */ "Flares_inventory", "Save_crystal_inventory", "Puzzle_#4", "Puzzle_#4_inventory", "Puzzle_hole_#4",
    /* 217 */ "Puzzle_done_#4", "Secret_#3", "Key_#4", "Key_#4_inventory", "Keyhole_#4", "Quest_#2", "Quest_#2_inventory",
    /* 240 */ "Infada_stone", "Element_115", "Eye_of_isis", "Ora_dagger", "Infada_stone_inventory",
    /* 245 */ "Element_115_inventory", "Eye_of_isis_inventory", "Ora_dagger_inventory", "Pistols_display",
    /* 249 */ "Shotgun_display", "Desert_eagle_display", "Uzis_display", "Harpoon_gun_display", "Mp5_display",
    /* 254 */ "Rocket_launcher_display", "Grenade_launcher_display", "Pistol_ammo_display", "Shotgun_ammo_display",
    /* 258 */ "Desert_eagle_ammo_display", "Uzi_ammo_display", "Harpoons_display", "Mp5_ammo_display", "Rockets_display",
    /* 263 */ "Grenades_display", "Small_medipack_display", "Large_medipack_display", "Flares_display",
    /* 267 */ "Save_crystal_display", "Puzzle_#4_display", "Key_#4_display", "Infada_stone_2", "Element_115_2",
    /* 278 */ "Eye_of_isis_2", "Ora_dagger_2", "Pickup_#2_display", "Dragon_statue", "Tony_fireball", "Sphere_of_doom",
    /* 285 */ "Alarm", "Dripping_water", "T_rex", "Raptor", "Singing_birds", "Clock_chimes", "Laser_sweeper",
    /* 292 */ "Electrical_field", "Hot_liquid", "Shadow_sprite", "Detonator_box", "Misc_sprites", "Bubble", "Bubbles_2",
    /* 299 */ "Glow", "Gun_flash", "Mp5_flash", "Desert_eagle_flash", "Body_part", "Camera_target", "Waterfall_mist",
    /* 306 */ "Harpoon", "Dragon_fire", "Thrown_knife", "Rocket", "Harpoon_2", "Grenade", "Big_missile", "Smoke",
    /* 314 */ "Movable_boom", "Lara_skin", "Glow_2", "Lava_emitter", "Alarm_light", "Light", "On_off_light", "Light_2",
    /* 322 */ "Pulsating_light", "Extra_light", "Red_light", "Green_light", "Blue_light", "Light_3", "Light_4", "Flame",
    /* 330 */ "Fire", "Alternate_fire", "Alternate_fire_2", "Fire_2", "Smoke_2", "Smoke_3", "Smoke_4", "Green_smoke",
    /* 338 */ "Piranhas", "Fish", "Piranha_graphics", "Tropical_fish_graphics", "Bat_graphics", "Tribe_boss_graphics",
    /* 344 */ "Spider_graphics", "Tumbleweed", "Leaves", "Bat_swarm", "Bird_emitter", "Animating_#6", "Skybox",
    /* 356 */ "Font_graphics", "Door_bell", "Alarm_bell", "Helicopter", "Winston", "Winston_camouflage",
    /* 362 */ "Timer_font_graphics", "Final_level", "Cutscene_shotgun", "Earthquake", "Yellow_shell_casing",
    /* 367 */ "Red_shell_casing", "Extra_effect_1", "Extra_effect_2", "Tinnos_light_shaft", "Extra_effect_4",
    /* 372 */ "Extra_effect_5", "Electrical_switch_box",
};

constexpr const char* Tr4Names[] = {
    /*   0 */ "Lara", "Lara_pistol_animation", "Lara_uzi_animation", "Lara_shotgun_animation", "Lara_crossbow_animation",
    /*   5 */ "Lara_grenade_animation", "Lara_revolver_animation", "Lara_flare_animation", "Lara_skin", "Lara_skin_joints",
    /*  10 */ "Lara_scream", "Lara_crossbow_laser", "Lara_revolver_laser", "Lara_holsters", "Lara_holsters_pistols",
    /*  15 */ "Lara_holsters_uzis", "Lara_holsters_revolver", "Lara_speech_head_#4", "Actor_#2_speech_head_#2",
    /*  25 */ "Lara_water_mesh", "Lara_petrol_mesh", "Lara_dirt_mesh", "Lara_crowbar_animation", "Lara_torch_animation",
    /*  30 */ "Lara_hair", "Motorbike", "Jeep", "Vehicle_extra", "Enemy_jeep", "Skeleton+mip", "Guide+mip", "Von_croy+mip",
    /*  41 */ "Baddy_#2+mip", "Setha+mip", "Mummy+mip", "Sphinx+mip", "Crocodile+mip", "Horseman+mip", "Scorpion+mip",
    /*  57 */ "Jean_yves+mip", "Troops+mip", "Knights_templar+mip", "Mutant+mip", "Horse+mip", "Baboon_normal+mip",
    /*  69 */ "Baboon_inv+mip", "Baboon_silent+mip", "Wild_boar+mip", "Harpy+mip", "Demigod_#3+mip", "Little_beetle",
    /*  84 */ "Big_beetle+mip", "Wraith_#4", "Bat", "Dog+mip", "Hammerhead+mip", "Sas+mip", "Sas_dying+mip",
    /*  99 */ "Sas_captain+mip", "Sas_drag_bloke", "Ahmet+mip", "Lara_double+mip", "Small_scorpion", "Fish",
    /* 108 */ "Game_piece_#3", "Enemy_piece", "Wheel_of_fortune", "Scales", "Darts", "Dart_emitter", "Homing_dart_emitter",
    /* 117 */ "Falling_ceiling", "Falling_block", "Falling_block_2", "Smashable_bike_wall", "Smashable_bike_floor",
    /* 122 */ "Trapdoor_#3", "Floor_trapdoor_#2", "Ceiling_trapdoor_#2", "Scaling_trapdoor", "Rolling_ball",
    /* 131 */ "Spiky_floor", "Teeth_spikes", "Joby_spikes", "Slicer_dicer", "Chain", "Plough", "Stargate", "Hammer",
    /* 139 */ "Burning_floor", "Cog", "Spikeball", "Flame", "Flame_emitter", "Flame_emitter_2", "Flame_emitter_3", "Rope",
    /* 147 */ "Fire_rope", "Pole_rope", "One_block_platform", "Two_block_platform", "Raising_block_#2",
    /* 153 */ "Expanding_platform", "Squishy_block_#2", "Pushable_object_#5", "Tripwire", "Sentry_gun", "Mine", "Mapper",
    /* 165 */ "Obelisk", "Floor_4_blade", "Roof_4_blade", "Bird_blade", "Catwalk_blade", "Moving_blade", "Plinth_blade",
    /* 172 */ "Seth_blade", "Lightning_conductor", "Element_puzzle", "Puzzle_item_#12", "Puzzle_item_#8_combo_#2",
    /* 203 */ "Key_item_#12", "Key_item_#8_combo_#2", "Pickup_item_#4", "Pickup_item_#4_combo_#2", "Examine_#3",
    /* 246 */ "Crowbar", "Burning_torch", "Clockwork_beetle", "Clockwork_beetle_combo_#2", "Mine_detector",
    /* 252 */ "Quest_item_#6", "Map", "Secret_map", "Puzzle_hole_#12", "Puzzle_done_#12", "Key_hole_#12",
    /* 296 */ "Waterskin_1_empty", "Waterskin_1_#3", "Waterskin_2_empty", "Waterskin_2_#5", "Switch_type_#8",
    /* 314 */ "Underwater_switch_#2", "Turn_switch", "Cog_switch", "Lever_switch", "Jump_switch", "Crowbar_switch",
    /* 321 */ "Pulley", "Door_type_#8", "Push_pull_door_#2", "Kick_door_#2", "Underwater_door", "Double_doors",
    /* 336 */ "Bridge_flat", "Bridge_tilt_#2", "Sarcophagus", "Sequence_door_1", "Sequence_switch_#3", "Sarcophagus_cut",
    /* 345 */ "Horus_statue", "God_head", "Seth_door", "Statue_plinth", "Pistols", "Pistol_ammo", "Uzis", "Uzi_ammo",
    /* 353 */ "Shotgun", "Shotgun_ammo_#2", "Crossbow", "Crossbow_ammo_#3", "Crossbow_bolt", "Grenade_gun",
    /* 362 */ "Grenade_gun_ammo_#3", "Grenade", "Revolver", "Revolver_ammo", "Large_medipack", "Small_medipack",
    /* 370 */ "Laser_sight", "Binoculars", "Flare", "Flares", "Diary", "Compass", "Memory_card_load",
    /* 377 */ "Memory_card_save", "Pc_load", "Pc_save", "Smoke_emitter_white", "Smoke_emitter_black", "Steam_emitter",
    /* 383 */ "Earthquake", "Bubbles", "Waterfall_mist", "Gun_shell", "Shotgun_shell", "Gun_flash", "Butterfly",
    /* 390 */ "Sprinkler", "Red_light", "Green_light", "Blue_light", "Amber_light", "White_light", "Blinking_light",
    /* 397 */ "Lens_flare", "Ai_guard", "Ai_ambush", "Ai_patrol_1", "Ai_modify", "Ai_follow", "Ai_patrol_2", "Ai_x1",
    /* 405 */ "Ai_x2", "Lara_start_position", "Kill_all_triggers", "Trigger_triggerer", "Smash_object_#8", "Meshswap_#3",
    /* 420 */ "Death_slide", "Body_part", "Camera_target", "Waterfall_#3", "Planet_effect", "Animating_#16+mip",
    /* 459 */ "Horizon", "Sky_graphics", "Binocular_graphics", "Target_graphics", "Default_sprites", "Misc_sprites",
};

constexpr const char* Tr5Names[] = {
    /*   0 */ "Lara", "Lara_pistol_animation", "Lara_uzi_animation", "Lara_shotgun_animation", "Lara_crossbow_animation",
    /*   5 */ "Lara_hk_animation", "Lara_revolver_animation", "Lara_flare_animation", "Lara_skin", "Lara_skin_joints",
    /*  10 */ "Lara_scream", "Lara_crossbow_laser", "Lara_revolver_laser", "Lara_holsters", "Lara_holsters_pistols",
    /*  15 */ "Lara_holsters_uzis", "Lara_holsters_revolver", "Lara_speech_head_#4", "Actor_#2_speech_head_#2",
    /*  25 */ "Lara_extra_mesh_#3", "Lara_crowbar_animation", "Lara_torch_animation", "Lara_hair", "Sas+mip", "Swat+mip",
    /*  35 */ "Swat_plus+mip", "Blue_guard+mip", "Twogun+mip", "Dog+mip", "Crow+mip", "Larson+mip", "Pierre+mip",
    /*  49 */ "Mafia+mip", "Mafia_2+mip", "Sailor+mip", "Crane_guy+mip", "Lion+mip", "Gladiator+mip", "Roman_god+mip",
    /*  63 */ "Hydra+mip", "Guardian+mip", "Hitman+mip", "Scientist+mip", "Willowisp+mip", "Skeleton+mip", "Reaper+mip",
    /*  77 */ "Maze_monster+mip", "Green_teeth+mip", "Attack_sub+mip", "Sniper+mip", "Huskie+mip", "Chef+mip", "Imp+mip",
    /*  91 */ "Gunship+mip", "Bat", "Rat", "Spider", "Spider_generator", "Autogun", "Electrical_cables", "Darts",
    /* 100 */ "Dart_emitter", "Homing_dart_emitter", "Falling_ceiling", "Falling_block", "Falling_block_2",
    /* 105 */ "Crumbling_floor", "Trapdoor_#3", "Floor_trapdoor_#2", "Ceiling_trapdoor_#2", "Scaling_trapdoor",
    /* 114 */ "Rolling_ball", "Rolling_barrel", "Spiky_floor", "Teeth_spikes", "Rome_hammer", "Hammer_2", "Flame",
    /* 121 */ "Flame_emitter", "Flame_emitter_2", "Flame_emitter_3", "Cooker_flame", "Burning_roots", "Rope", "Fire_rope",
    /* 128 */ "Pole_rope", "Propeller_horizontal", "Propeller_vertical", "Grappling_target", "One_block_platform",
    /* 133 */ "Two_block_platform", "Raising_block_#2", "Expanding_platform", "Pushable_object_#5", "Wrecking_ball",
    /* 143 */ "Death_slide", "Torpedo", "Chaff", "Satchel_bomb", "Electric_fence", "Lift", "Explosion", "Iris_lightning",
    /* 151 */ "Monitor_screen", "Security_screens", "Motion_sensors", "Tight_rope", "Parallel_bars", "Xray_controller",
    /* 157 */ "Cutscene_rope", "Portal", "Gen_slot_#4", "Imp_rock", "Search_object_#4+mip", "Puzzle_item_#8",
    /* 180 */ "Puzzle_item_#8_combo_#2", "Key_item_#8", "Key_item_#8_combo_#2", "Pickup_item_#4",
    /* 224 */ "Pickup_item_#4_combo_#2", "Examine_#3", "Bottle", "Cloth", "Wet_cloth", "Cosh", "Hammer", "Crowbar",
    /* 241 */ "Burning_torch", "Puzzle_hole_#8", "Puzzle_done_#8", "Key_hole_#8", "Switch_type_#8", "Airlock_switch",
    /* 275 */ "Underwater_switch_#2", "Turn_switch", "Cog_switch", "Lever_switch", "Jump_switch", "Crowbar_switch",
    /* 282 */ "Pulley", "Crowdove_switch", "Door_type_#8+mip", "Closed_door_#6+mip", "Lift_doors_#2+mip",
    /* 316 */ "Push_pull_door_#2+mip", "Kick_door_#2+mip", "Underwater_door+mip", "Double_doors+mip", "Sequence_door_1",
    /* 329 */ "Sequence_switch_#3", "Steel_door", "God_head", "Pistols", "Pistol_ammo", "Uzis", "Uzi_ammo", "Shotgun",
    /* 339 */ "Shotgun_ammo_#2", "Crossbow", "Crossbow_ammo_#2", "Crossbow_bolt", "Hk_gun", "Hk_ammo", "Revolver",
    /* 348 */ "Revolver_ammo", "Large_medipack", "Small_medipack", "Laser_sight", "Binoculars", "Silencer", "Flare",
    /* 355 */ "Flares", "Compass", "Memory_card_load", "Memory_card_save", "Pc_load", "Pc_save", "Dc_load",
    /* 362 */ "Dc_save", "Smoke_emitter_white", "Smoke_emitter_black", "Steam_emitter", "Earthquake", "Bubbles",
    /* 368 */ "Waterfall_mist", "Gun_shell", "Shotgun_shell", "Gun_flash", "Coloured_light", "Blinking_light",
    /* 374 */ "Pulse_light", "Strobe_light", "Electrical_light", "Lens_flare", "Ai_guard", "Ai_ambush", "Ai_patrol_1",
    /* 381 */ "Ai_modify", "Ai_follow", "Ai_patrol_2", "Ai_x1", "Ai_x2", "Lara_start_position", "Teleporter",
    /* 388 */ "Lift_teleporter", "Raising_cog", "Lasers", "Steam_lasers", "Floor_lasers", "Kill_all_triggers",
    /* 394 */ "Trigger_triggerer", "High_object_#2", "Smash_object_#8", "Meshswap_#3", "Body_part", "Camera_target",
    /* 410 */ "Waterfall_#3", "Fishtank", "Waterfall_ss_#2", "Animating_#16+mip", "Bridge_flat+mip", "Bridge_tilt_#2+mip",
    /* 454 */ "Horizon", "Sky_graphics", "Binocular_graphics", "Target_graphics", "Default_sprites", "Misc_sprites",
};

// The ids of the broad kinds the map tells apart; every other id is "other".
struct TKindRange {
    int32_t First, Last;
    TItemKind Kind;
};
constexpr TItemKind P = TItemKind::Pickup, E = TItemKind::Enemy;
constexpr TKindRange Tr1Kinds[] = {{6, 28, E},    {30, 34, E},    {84, 94, P},    {110, 113, P},
                                   {126, 126, P}, {129, 132, P},  {141, 146, P}};
constexpr TKindRange Tr2Kinds[] = {{15, 21, E},    {25, 34, E},    {36, 54, E},   {214, 214, E}, {135, 151, P},
                                   {174, 177, P},  {190, 196, P},  {205, 206, P}};
constexpr TKindRange Tr3Kinds[] = {{20, 23, E},   {25, 29, E},   {31, 46, E},   {49, 58, E},   {60, 65, E},
                                   {69, 71, E},   {73, 73, E},   {287, 288, E}, {160, 178, P}, {180, 180, P},
                                   {205, 208, P}, {221, 227, P}, {236, 237, P}, {240, 243, P}, {276, 279, P}};
constexpr TKindRange Tr4Kinds[] = {{35, 107, E},  {175, 186, P}, {203, 214, P},
                                   {231, 234, P}, {246, 259, P}, {349, 372, P}};
constexpr TKindRange Tr5Kinds[] = {{31, 96, E},   {172, 179, P}, {196, 203, P},
                                   {220, 223, P}, {235, 241, P}, {334, 354, P}};

struct TGame {
    const char* Name;
    const char* const* Entries;
    size_t EntryCount;
    const TKindRange* Kinds;
    size_t KindCount;
    int32_t TypeCount;  // the ids 0 .. TypeCount-1 the game's object table holds
    // The engine's item array: every game up to TR5 keeps 256 items, the
    // level's own first.
    int32_t ItemLimit;
};

template <size_t N, size_t K>
constexpr TGame Game(const char* name, const char* const (&entries)[N], const TKindRange (&kinds)[K], int32_t types) {
    return {name, entries, N, kinds, K, types, 256};
}

constexpr TGame Games[] = {
    Game("TR1", Tr1Names, Tr1Kinds, 191), Game("TR2", Tr2Names, Tr2Kinds, 265), Game("TR3", Tr3Names, Tr3Kinds, 374),
    Game("TR4", Tr4Names, Tr4Kinds, 465), Game("TR5", Tr5Names, Tr5Kinds, 460),
};

const TGame& GameOf(int32_t version) {
    switch (version) {
    case KindTR2:
    case KindTRG: return Games[1];
    case KindTR3: return Games[2];
    case KindTR4: return Games[3];
    case KindTRC:
    case KindTR5: return Games[4];
    default: return Games[0];
    }
}

// Appends the names one table entry stands for.
void Expand(std::string_view entry, std::vector<std::string>& names) {
    constexpr std::string_view mipMark = "+mip";
    const bool mip = entry.size() >= mipMark.size() && entry.substr(entry.size() - mipMark.size()) == mipMark;
    const std::string_view body = mip ? entry.substr(0, entry.size() - mipMark.size()) : entry;
    const size_t hash = body.find('#');
    if (hash == std::string_view::npos) {
        names.emplace_back(body);
        if (mip) names.push_back(std::string(body) + "_mip");
        return;
    }
    size_t end = hash + 1;
    int count = 0;
    while (end < body.size() && body[end] >= '0' && body[end] <= '9') count = count * 10 + (body[end++] - '0');
    for (int k = 1; k <= count; ++k) {
        const std::string one = std::string(body.substr(0, hash)) + std::to_string(k) + std::string(body.substr(end)) +
                                (mip ? std::string(mipMark) : "");
        Expand(one, names);
    }
}

// The names of each game by type id, made once on first use.
const std::vector<std::string>& NamesOf(const TGame& game) {
    static const std::vector<std::vector<std::string>> all = [] {
        std::vector<std::vector<std::string>> tables;
        for (const TGame& g : Games) {
            std::vector<std::string> names;
            for (size_t i = 0; i < g.EntryCount; ++i) Expand(g.Entries[i], names);
            names.resize(size_t(g.TypeCount));
            tables.push_back(std::move(names));
        }
        return tables;
    }();
    return all[size_t(&game - Games)];
}

// A name as lookups compare it: upper case, blanks as underscores.
std::string Folded(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        else if (c == ' ') c = '_';
    }
    return s;
}

} // namespace

const char* ItemGameName(int32_t version) { return GameOf(version).Name; }

int32_t ItemTypeCount(int32_t version) { return GameOf(version).TypeCount; }

int32_t ItemLimit(int32_t version) { return GameOf(version).ItemLimit; }

const char* ItemTypeName(int32_t version, int32_t type) {
    const std::vector<std::string>& names = NamesOf(GameOf(version));
    if (type < 0 || size_t(type) >= names.size() || names[size_t(type)].empty()) return nullptr;
    return names[size_t(type)].c_str();
}

std::string ItemTypeLabel(int32_t version, int32_t type) {
    const char* name = ItemTypeName(version, type);
    return name ? name : std::to_string(type);
}

std::optional<int32_t> ItemTypeByName(int32_t version, const std::string& name) {
    const std::string wanted = Folded(name);
    if (wanted.empty()) return std::nullopt;
    const std::vector<std::string>& names = NamesOf(GameOf(version));
    for (size_t i = 0; i < names.size(); ++i)
        if (!names[i].empty() && Folded(names[i]) == wanted) return int32_t(i);
    return std::nullopt;
}

std::vector<int32_t> NamedTypes(int32_t version, const std::string& part) {
    const std::string wanted = Folded(part);
    const std::vector<std::string>& names = NamesOf(GameOf(version));
    std::vector<int32_t> types;
    for (size_t i = 0; i < names.size(); ++i)
        if (!names[i].empty() && Folded(names[i]).find(wanted) != std::string::npos) types.push_back(int32_t(i));
    return types;
}

std::vector<std::string> NearestTypeNames(int32_t version, const std::string& name) {
    const std::string wanted = Folded(name);
    if (wanted.empty()) return {};
    // A slip of the keyboard (a few edits, a quarter of the name) or a part of a name.
    const size_t slips = std::max<size_t>(2, wanted.size() / 4);
    std::vector<std::pair<size_t, std::string>> near;
    for (const std::string& candidate : NamesOf(GameOf(version))) {
        if (candidate.empty()) continue;
        const std::string folded = Folded(candidate);
        const size_t d = EditDistance(wanted, folded);
        if (d <= slips || (wanted.size() >= 3 && folded.find(wanted) != std::string::npos)) near.emplace_back(d, candidate);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (const auto& [d, candidate] : near)
        if (names.size() < 4 && std::find(names.begin(), names.end(), candidate) == names.end()) names.push_back(candidate);
    return names;
}

TItemKind ItemKindOf(int32_t version, int32_t type) {
    if (type == 0) return TItemKind::Player;
    const TGame& game = GameOf(version);
    for (size_t i = 0; i < game.KindCount; ++i)
        if (type >= game.Kinds[i].First && type <= game.Kinds[i].Last) return game.Kinds[i].Kind;
    return TItemKind::Other;
}

} // namespace qm
