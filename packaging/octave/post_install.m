% Run by pkg install. Octave reads the help text of a MEX function from the
% .m file beside the module, but pkg puts Brelvane.mex in the architecture
% folder and Brelvane.m in the package folder: a copy goes beside the module.
function post_install (desc)
  modules = dir (fullfile (desc.archprefix, "*", "Brelvane.mex"));
  if (isempty (modules))
    warning ("brelvane:post_install",
             "Brelvane.mex not found below %s: help Brelvane will not work",
             desc.archprefix);
  end
  for i = 1:numel (modules)
    copyfile (fullfile (desc.dir, "Brelvane.m"), modules(i).folder);
  end
end
