CREATE TABLE die (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  lot VARCHAR(255),
  wafer VARCHAR(255),
  die VARCHAR(255),
  block VARCHAR(255),
  modified_time TEXT,
  user VARCHAR(255)
);

CREATE TABLE routine (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  definition TEXT,
  modified_time TEXT,
  user VARCHAR(255)
);

CREATE INDEX routine_name ON routine (name ASC);

CREATE TABLE catalog_entry (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  parent_id INTEGER,
  schema_version VARCHAR(255),
  application VARCHAR(255),
  application_version VARCHAR(255),
  run_type VARCHAR(255),
  start_time TEXT,
  end_time TEXT,
  model_text TEXT,
  modified_time TEXT,
  user VARCHAR(255),
  storage_engine INTEGER
);

CREATE INDEX catalog_entry_parent_id ON catalog_entry (parent_id ASC);

CREATE TABLE catalog_entry_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  data_type VARCHAR(255),
  flags INTEGER
);

CREATE TABLE catalog_entry_association (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  catalog_entry_id INTEGER NOT NULL,
  catalog_entry_column_id INTEGER NOT NULL
);

CREATE INDEX catalog_entry_association_catalog_entry_id ON catalog_entry_association (catalog_entry_id ASC);

CREATE INDEX catalog_entry_association_catalog_entry_column_id ON catalog_entry_association (catalog_entry_column_id ASC);

CREATE TABLE catalog_entry_data (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  catalog_entry_id INTEGER NOT NULL
);

CREATE INDEX catalog_entry_data_catalog_entry_id ON catalog_entry_data (catalog_entry_id ASC);

CREATE TABLE device (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  device_type VARCHAR(255),
  parent_subsite_name VARCHAR(255),
  position_within_subsite INTEGER,
  catalog_entry_id INTEGER,
  modified_time TEXT,
  user VARCHAR(255),
  storage_engine INTEGER
);

CREATE INDEX device_catalog_entry_id ON device (catalog_entry_id ASC, name ASC);

CREATE TABLE device_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  data_type VARCHAR(255),
  category VARCHAR(255),
  flags INTEGER
);

CREATE TABLE device_association (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  device_id INTEGER NOT NULL,
  device_column_id INTEGER NOT NULL
);

CREATE INDEX device_association_device_id ON device_association (device_id ASC);

CREATE INDEX device_association_device_column_id ON device_association (device_column_id ASC);

CREATE TABLE device_data (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  device_id INTEGER NOT NULL
);

CREATE INDEX device_data_device_id ON device_data (device_id ASC);

CREATE TABLE measurement_condition (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  catalog_entry_id INTEGER,
  routine_id INTEGER,
  modified_time TEXT,
  user VARCHAR(255),
  storage_engine INTEGER
);

CREATE INDEX measurement_condition_catalog_entry_id ON measurement_condition (catalog_entry_id ASC);

CREATE INDEX measurement_condition_routine_id ON measurement_condition (routine_id ASC);

CREATE TABLE measurement_condition_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  data_type VARCHAR(255),
  description TEXT,
  flags INTEGER
);

CREATE TABLE measurement_condition_association (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_condition_id INTEGER NOT NULL,
  measurement_condition_column_id INTEGER NOT NULL
);

CREATE INDEX measurement_condition_association_condition_id
  ON measurement_condition_association (measurement_condition_id ASC);

CREATE INDEX measurement_condition_association_column_id
  ON measurement_condition_association (measurement_condition_column_id ASC);

CREATE TABLE measurement_condition_data (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_condition_id INTEGER NOT NULL
);

CREATE INDEX measurement_condition_data_measurement_condition_id
  ON measurement_condition_data (measurement_condition_id ASC);

CREATE TABLE measurement (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  die_id INTEGER,
  catalog_entry_id INTEGER,
  device_id INTEGER,
  measurement_condition_id INTEGER,
  temperature DOUBLE,
  modified_time TEXT,
  user VARCHAR(255),
  storage_engine INTEGER
);

CREATE INDEX measurement_die_id ON measurement (die_id ASC);

CREATE INDEX measurement_catalog_entry_id ON measurement (catalog_entry_id ASC);

CREATE INDEX measurement_device_id ON measurement (device_id ASC);

CREATE INDEX measurement_measurement_condition_id ON measurement (measurement_condition_id ASC);

CREATE TABLE measurement_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  data_type VARCHAR(255),
  flags INTEGER
);

CREATE TABLE measurement_association (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_id INTEGER NOT NULL,
  measurement_column_id INTEGER NOT NULL
);

CREATE INDEX measurement_association_measurement_id ON measurement_association (measurement_id ASC);

CREATE INDEX measurement_association_measurement_column_id ON measurement_association (measurement_column_id ASC);

CREATE TABLE measurement_data (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_id INTEGER NOT NULL
);

CREATE INDEX measurement_data_measurement_id ON measurement_data (measurement_id ASC);

CREATE TABLE setup (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  path VARCHAR(1024),
  run_type VARCHAR(255),
  data_origin VARCHAR(255),
  modified_time TEXT,
  user VARCHAR(255),
  storage_engine INTEGER
);

CREATE INDEX setup_path ON setup (path ASC);

CREATE TABLE setup_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  data_type VARCHAR(255),
  is_input INTEGER,
  flags INTEGER
);

CREATE TABLE setup_association (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  setup_id INTEGER NOT NULL,
  setup_column_id INTEGER NOT NULL,
  quarn_header TEXT
);

CREATE INDEX setup_association_setup_id ON setup_association (setup_id ASC);

CREATE INDEX setup_association_setup_column_id ON setup_association (setup_column_id ASC);

CREATE TABLE setup_data (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  setup_id INTEGER NOT NULL
);

CREATE INDEX setup_data_setup_id ON setup_data (setup_id ASC);

CREATE TABLE catalog_setup (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  catalog_entry_id INTEGER NOT NULL,
  setup_id INTEGER NOT NULL
);

CREATE INDEX catalog_setup_catalog_entry_id ON catalog_setup (catalog_entry_id ASC);

CREATE INDEX catalog_setup_setup_id ON catalog_setup (setup_id ASC);

CREATE TABLE device_setup (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  device_id INTEGER NOT NULL,
  setup_id INTEGER NOT NULL,
  device_data_row INTEGER
);

CREATE INDEX device_setup_device_id ON device_setup (device_id ASC);

CREATE INDEX device_setup_setup_id ON device_setup (setup_id ASC);

CREATE TABLE measurement_setup (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_id INTEGER NOT NULL,
  setup_id INTEGER NOT NULL
);

CREATE INDEX measurement_setup_measurement_id ON measurement_setup (measurement_id ASC, setup_id ASC);

CREATE INDEX measurement_setup_setup_id ON measurement_setup (setup_id ASC);

CREATE TABLE latest_measurement (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  measurement_id INTEGER NOT NULL,
  die_id INTEGER,
  device_type VARCHAR(255),
  device_parent_subsite_name VARCHAR(255),
  device_position_within_subsite INTEGER,
  measurement_condition_name VARCHAR(255),
  measurement_temperature DOUBLE,
  routine_name VARCHAR(255),
  data_origin VARCHAR(255),
  mode VARCHAR(255)
);

CREATE INDEX latest_measurement_measurement_id ON latest_measurement(measurement_id);

CREATE INDEX latest_measurement_all ON latest_measurement(
  die_id,
  device_type,
  device_parent_subsite_name,
  device_position_within_subsite,
  measurement_condition_name,
  measurement_temperature,
  routine_name,
  data_origin,
  mode
);

CREATE TABLE latest_setup (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  setup_id INTEGER NOT NULL,
  path VARCHAR(1024),
  die_id INTEGER,
  device_type VARCHAR(255),
  device_parent_subsite_name VARCHAR(255),
  device_position_within_subsite INTEGER,
  measurement_condition_name VARCHAR(255),
  measurement_temperature DOUBLE,
  routine_name VARCHAR(255),
  data_origin VARCHAR(255),
  mode VARCHAR(255)
);

CREATE INDEX latest_setup_setup_id ON latest_setup(setup_id);

CREATE INDEX latest_setup_all ON latest_setup(
  path,
  die_id,
  device_type,
  device_parent_subsite_name,
  device_position_within_subsite,
  measurement_condition_name,
  measurement_temperature,
  routine_name,
  data_origin,
  mode
);

CREATE TABLE multi_table (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  column_table_name VARCHAR(255),
  data_table_prefix VARCHAR(255),
  column_set CHAR(64)
);

CREATE INDEX multi_table_data_table_prefix ON multi_table (data_table_prefix ASC);

CREATE UNIQUE INDEX multi_table_column_set ON multi_table (column_set);

CREATE TABLE multi_table_column (
  id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,
  multi_table_id INTEGER NOT NULL,
  column_id INTEGER NOT NULL
);

CREATE INDEX multi_table_column_multi_table_id ON multi_table_column (multi_table_id ASC);
